#pragma once

#include <QSizeF>
#include <QWidget>

class QPainter;

namespace vesperine {

// The title emblem: a thin ring whose right half is a disc shading from orange
// at the top to indigo at the bottom. It fills the largest square that fits
// at the top-left corner of its box.
//
// The ring's line is centred on the circle, so half of it lies outside the
// box; the widget keeps a margin of `bleed` logical pixels around the box for
// it, and is that much larger on every side than the box it shows.
class FilterGlyph : public QWidget {
  public:
    static constexpr int bleed = 1;

    // `box`: the glyph's box, logical pixels.
    explicit FilterGlyph(QSize box = {22, 22}, QWidget* parent = nullptr);

    // Draws the glyph for a box of `box` logical pixels with its corner at the
    // painter's origin.
    static void draw(QPainter& painter, const QSizeF& box);

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QSize box_;
};

}  // namespace vesperine
