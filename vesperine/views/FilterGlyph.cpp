#include "views/FilterGlyph.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>

#include "views/Palette.h"

namespace vesperine {

FilterGlyph::FilterGlyph(QSize box, QWidget* parent) : QWidget(parent), box_(box) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize FilterGlyph::sizeHint() const {
    return box_ + QSize(2 * bleed, 2 * bleed);
}

void FilterGlyph::draw(QPainter& painter, const QSizeF& box) {
    const qreal d = std::min(box.width(), box.height());
    if (!(d > 0)) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square(0, 0, d, d);

    QColor ring = Palette::primaryForeground();
    ring.setAlphaF(ring.alphaF() * 0.55f);
    QPen pen(ring, 1.4, Qt::SolidLine, Qt::FlatCap, Qt::MiterJoin);
    pen.setMiterLimit(10);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(square);

    QLinearGradient gradient(QPointF(0, 0), QPointF(0, d));
    gradient.setColorAt(0.0, Palette::orange());
    gradient.setColorAt(1.0, Palette::indigo());
    painter.setClipRect(QRectF(d / 2.0, 0, d / 2.0, d));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(square);
    painter.restore();
}

void FilterGlyph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.translate(bleed, bleed);
    draw(painter, QSizeF(width() - 2 * bleed, height() - 2 * bleed));
}

}  // namespace vesperine
