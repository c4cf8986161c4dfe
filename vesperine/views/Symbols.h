#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QSizeF>
#include <QWidget>

class QPainter;

namespace vesperine {

// The panel's symbol images, drawn as vector paths so that they look the same
// on a machine without any icon theme.
enum class Symbol {
    gearshape,
    locationFill,
    chevronRight,
    chevronLeft,
    playFill,
    pauseFill,
    power
};

namespace Symbols {

// The symbol's box for text of `pixelSize` logical pixels.
QSizeF size(Symbol symbol, qreal pixelSize);

// Draws the symbol filling `box`; `weight` sets the stroke thickness the way a
// font weight sets the thickness of letters.
void draw(QPainter& painter, Symbol symbol, const QRectF& box, const QColor& colour,
          QFont::Weight weight);

}  // namespace Symbols

// A symbol at the size of a given font, in one colour; it takes no mouse input so
// that a button around it receives the press.
class SymbolView : public QWidget {
  public:
    SymbolView(Symbol symbol, qreal pixelSize, QFont::Weight weight, const QColor& colour,
               QWidget* parent = nullptr);

    Symbol symbol() const { return symbol_; }
    void setSymbol(Symbol symbol);
    const QColor& colour() const { return colour_; }
    void setColour(const QColor& colour);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    Symbol symbol_;
    qreal pixelSize_;
    QFont::Weight weight_;
    QColor colour_;
};

}  // namespace vesperine
