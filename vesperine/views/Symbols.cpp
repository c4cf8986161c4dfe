#include "views/Symbols.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>
#include <numbers>

namespace vesperine {
namespace Symbols {
namespace {

// Stroke thickness as a share of the text size.
qreal strokeShare(QFont::Weight weight) {
    if (weight >= QFont::Bold) {
        return 0.14;
    }
    if (weight >= QFont::DemiBold) {
        return 0.12;
    }
    if (weight >= QFont::Medium) {
        return 0.105;
    }
    return 0.09;
}

// Width and height of each symbol as shares of the text size.
QSizeF shares(Symbol symbol) {
    switch (symbol) {
        case Symbol::gearshape:
            return {1.0, 1.0};
        case Symbol::locationFill:
            return {0.95, 0.95};
        case Symbol::chevronRight:
        case Symbol::chevronLeft:
            return {0.58, 0.95};
        case Symbol::playFill:
            return {0.8, 0.92};
        case Symbol::pauseFill:
            return {0.72, 0.9};
        case Symbol::power:
            return {0.95, 0.95};
    }
    return {1.0, 1.0};
}

QPointF at(const QRectF& box, qreal x, qreal y) {
    return {box.left() + x * box.width(), box.top() + y * box.height()};
}

QPainterPath gear(const QRectF& box) {
    const QPointF centre = box.center();
    const qreal outer = std::min(box.width(), box.height()) / 2.0;
    const qreal root = outer * 0.74;
    const qreal hole = outer * 0.34;
    constexpr int teeth = 8;
    QPainterPath body;
    for (int i = 0; i < teeth * 4; ++i) {
        // Each tooth: two points on the outer radius, two at the root.
        const int phase = i % 4;
        const qreal radius = (phase == 1 || phase == 2) ? outer : root;
        const qreal angle = (i / 4 + (phase == 0   ? -0.3
                                      : phase == 1 ? -0.17
                                      : phase == 2 ? 0.17
                                                   : 0.3)) *
                            2.0 * std::numbers::pi / teeth;
        const QPointF point(centre.x() + radius * std::cos(angle),
                            centre.y() + radius * std::sin(angle));
        if (i == 0) {
            body.moveTo(point);
        } else {
            body.lineTo(point);
        }
    }
    body.closeSubpath();
    QPainterPath opening;
    opening.addEllipse(centre, hole, hole);
    return body.subtracted(opening);
}

}  // namespace

QSizeF size(Symbol symbol, qreal pixelSize) {
    const QSizeF share = shares(symbol);
    return {share.width() * pixelSize, share.height() * pixelSize};
}

void draw(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& colour,
          QFont::Weight weight) {
    if (box.width() <= 0 || box.height() <= 0) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal textSize = box.height() / shares(symbol).height();
    QPen pen(colour, strokeShare(weight) * textSize, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const qreal inset = pen.widthF() / 2.0;
    const QRectF inner = box.adjusted(inset, inset, -inset, -inset);

    switch (symbol) {
        case Symbol::gearshape:
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawPath(gear(box));
            break;
        case Symbol::locationFill: {
            // The arrow of a navigation pointer, tip at the top right.
            QPainterPath arrow;
            arrow.moveTo(at(inner, 1.0, 0.0));
            arrow.lineTo(at(inner, 0.0, 0.43));
            arrow.lineTo(at(inner, 0.57, 0.43));
            arrow.lineTo(at(inner, 0.57, 1.0));
            arrow.closeSubpath();
            painter.setPen(
                QPen(colour, pen.widthF() * 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(colour);
            painter.drawPath(arrow);
            break;
        }
        case Symbol::chevronRight:
        case Symbol::chevronLeft: {
            const bool right = symbol == Symbol::chevronRight;
            const qreal near = right ? 0.2 : 0.8;
            const qreal far = right ? 0.8 : 0.2;
            const QPointF points[] = {at(inner, near, 0.0), at(inner, far, 0.5),
                                      at(inner, near, 1.0)};
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            painter.drawPolyline(points, 3);
            break;
        }
        case Symbol::playFill: {
            const QPointF points[] = {at(inner, 0.05, 0.0), at(inner, 1.0, 0.5),
                                      at(inner, 0.05, 1.0)};
            painter.setPen(
                QPen(colour, pen.widthF() * 0.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.setBrush(colour);
            painter.drawPolygon(points, 3);
            break;
        }
        case Symbol::pauseFill: {
            const qreal barWidth = box.width() * 0.34;
            const qreal radius = barWidth * 0.3;
            painter.setPen(Qt::NoPen);
            painter.setBrush(colour);
            painter.drawRoundedRect(QRectF(box.left(), box.top(), barWidth, box.height()), radius,
                                    radius);
            painter.drawRoundedRect(
                QRectF(box.right() - barWidth, box.top(), barWidth, box.height()), radius, radius);
            break;
        }
        case Symbol::power: {
            painter.setPen(pen);
            painter.setBrush(Qt::NoBrush);
            const qreal ring = inner.width() * 0.08;
            const QRectF circle = inner.adjusted(ring, ring * 1.6, -ring, 0);
            // An open ring, its gap at the top, with the bar through the gap.
            painter.drawArc(circle, 125 * 16, 290 * 16);
            painter.drawLine(QPointF(inner.center().x(), inner.top()),
                             QPointF(inner.center().x(), circle.center().y()));
            break;
        }
    }
    painter.restore();
}

}  // namespace Symbols

SymbolView::SymbolView(Symbol symbol, qreal pixelSize, QFont::Weight weight, const QColor& colour,
                       QWidget* parent)
    : QWidget(parent), symbol_(symbol), pixelSize_(pixelSize), weight_(weight), colour_(colour) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(Symbol symbol) {
    symbol_ = symbol;
    updateGeometry();
    update();
}

void SymbolView::setColour(const QColor& colour) {
    colour_ = colour;
    update();
}

QSize SymbolView::sizeHint() const {
    const QSizeF box = Symbols::size(symbol_, pixelSize_);
    return {static_cast<int>(std::ceil(box.width())), static_cast<int>(std::ceil(box.height()))};
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QSizeF box = Symbols::size(symbol_, pixelSize_);
    const QRectF target(QPointF((width() - box.width()) / 2.0, (height() - box.height()) / 2.0),
                        box);
    Symbols::draw(painter, symbol_, target, colour_, weight_);
}

}  // namespace vesperine
