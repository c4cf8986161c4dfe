#pragma once

#include <QColor>
#include <QIcon>
#include <QImage>
#include <QRectF>
#include <QSize>
#include <QString>

class QPainter;

namespace vesperine::MenuBarIcon {

// The icon's size in logical pixels.
QSize imageSize();

// Draws the icon into `rect`: a circle outline whose right half is filled, all
// in `ink`. The circle's diameter is the smaller side of `rect` less 2.4.
void draw(QPainter& painter, const QRectF& rect, const QColor& ink);

// The icon in opaque black on transparent: only its alpha matters, as for a
// template image that the tray colours. `devicePixelRatio` device pixels per
// logical pixel.
QImage image(qreal devicePixelRatio = 1);

// The icon in `colour`, keeping the coverage of every pixel.
QImage tinted(const QColor& colour, qreal devicePixelRatio = 1);

// The icon in `colour` on a transparent square of `side` pixels, drawn as on
// a 16-pixel square and scaled.
QImage squareImage(const QColor& colour, int side);

// The icon in `colour` at the sizes a tray asks for, square ones included.
QIcon trayIcon(const QColor& colour);

}  // namespace vesperine::MenuBarIcon
