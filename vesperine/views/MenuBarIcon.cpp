#include "views/MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

namespace vesperine::MenuBarIcon {
namespace {

constexpr qreal kInset = 2.4;
constexpr qreal kOutlineWidth = 1.4;

QImage blank(QSizeF logical, qreal devicePixelRatio) {
    const qreal ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    QImage canvas(static_cast<int>(std::ceil(logical.width() * ratio)),
                  static_cast<int>(std::ceil(logical.height() * ratio)),
                  QImage::Format_ARGB32_Premultiplied);
    canvas.setDevicePixelRatio(ratio);
    canvas.fill(Qt::transparent);
    return canvas;
}

}  // namespace

QSize imageSize() {
    return {18, 16};
}

void draw(QPainter& painter, const QRectF& rect, const QColor& ink) {
    const qreal d = std::min(rect.width(), rect.height()) - kInset;
    if (!(d > 0)) {
        return;
    }
    const QRectF circle(rect.left() + (rect.width() - d) / 2.0,
                        rect.top() + (rect.height() - d) / 2.0, d, d);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);

    painter.save();
    painter.setClipRect(
        QRectF(circle.center().x(), rect.top(), rect.right() - circle.center().x(), rect.height()),
        Qt::IntersectClip);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawEllipse(circle);
    painter.restore();

    painter.setPen(QPen(ink, kOutlineWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(circle);
    painter.restore();
}

QImage image(qreal devicePixelRatio) {
    QImage canvas = blank(imageSize(), devicePixelRatio);
    QPainter painter(&canvas);
    draw(painter, QRectF(QPointF(0, 0), QSizeF(imageSize())), Qt::black);
    return canvas;
}

QImage tinted(const QColor& colour, qreal devicePixelRatio) {
    const QImage base = image(devicePixelRatio);
    QImage canvas = blank(imageSize(), devicePixelRatio);
    const QRectF area(QPointF(0, 0), QSizeF(imageSize()));
    QPainter painter(&canvas);
    painter.drawImage(area, base);
    painter.setCompositionMode(QPainter::CompositionMode_SourceAtop);
    painter.fillRect(area, colour);
    return canvas;
}

QImage squareImage(const QColor& colour, int side) {
    QImage square(side, side, QImage::Format_ARGB32_Premultiplied);
    square.fill(Qt::transparent);
    QPainter painter(&square);
    painter.scale(side / 16.0, side / 16.0);
    draw(painter, QRectF(0, 0, 16, 16), colour);
    painter.end();
    return square;
}

QIcon trayIcon(const QColor& colour) {
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0}) {
        icon.addPixmap(QPixmap::fromImage(tinted(colour, ratio)));
    }
    // Trays ask for square icons; the drawing keeps its proportions of a
    // 16-pixel square at every such size.
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(QPixmap::fromImage(squareImage(colour, side)));
    }
    return icon;
}

}  // namespace vesperine::MenuBarIcon
