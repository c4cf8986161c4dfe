#include "shell/MenuBarIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <algorithm>
#include <cmath>

#include "evidence/PngFile.h"

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

void writeEvidence(const QString& path) {
    const QSizeF icon(imageSize());
    const qreal tileWidth = icon.width() + 24;
    const qreal tileHeight = icon.height() + 18;
    constexpr qreal scale = 6;
    QImage canvas(static_cast<int>((2 * tileWidth + 20) * scale),
                  static_cast<int>(tileHeight * scale), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    // The layout is given with y upwards from the bottom edge; this turns such
    // a rectangle into the canvas's top-down coordinates.
    auto fromBottom = [&](qreal x, qreal y, qreal w, qreal h) {
        return QRectF(x, tileHeight - y - h, w, h);
    };

    QPainter painter(&canvas);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.scale(scale, scale);
    painter.setPen(Qt::NoPen);

    const auto tile = [&](qreal left, const QColor& ground, const QColor& ink) {
        QPainterPath shape;
        shape.addRoundedRect(fromBottom(left, 0, tileWidth, tileHeight), 4, 4);
        painter.fillPath(shape, ground);
        painter.drawImage(fromBottom(left + 12, 9, icon.width(), icon.height()),
                          tinted(ink, scale));
    };
    tile(0, QColor::fromRgbF(0.13f, 0.13f, 0.13f), Qt::white);
    tile(tileWidth + 20, QColor::fromRgbF(0.93f, 0.93f, 0.93f), QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    painter.end();

    PngFile::write(canvas, path);
}

}  // namespace vesperine::MenuBarIcon
