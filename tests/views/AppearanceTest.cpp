// The title glyph and the tray icon, checked on pixels.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/FilterGlyph.h"
#include "views/MenuBarIcon.h"

namespace vesperine {
namespace {

using testing::pixelAt;

TEST(FilterGlyphTest, RingOnTheLeftAndShadedHalfDiscOnTheRight) {
    // A 22-pixel box at 4 device pixels each, with room for the half of the
    // ring outside the box: pixel (x, y) of the box is (x + 1, y + 1) here.
    QImage image(QSize(24, 24) * 4, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(4);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(1, 1);
    FilterGlyph::draw(painter, QSizeF(22, 22));
    painter.end();
    // Inside the left half only the ring shows, light grey at reduced opacity.
    EXPECT_EQ(pixelAt(image, 7, 12).alpha(), 0);
    const QColor ring = pixelAt(image, 1.1, 12);
    EXPECT_GT(ring.alpha(), 40);
    EXPECT_LT(ring.alpha(), 200);
    // The right half: opaque, orange near the top, indigo near the bottom.
    const QColor top = pixelAt(image, 16, 4.5);
    const QColor bottom = pixelAt(image, 16, 19.5);
    EXPECT_EQ(top.alpha(), 255);
    EXPECT_EQ(bottom.alpha(), 255);
    EXPECT_GT(top.red(), top.blue() + 80);
    EXPECT_GT(bottom.blue(), bottom.red() + 60);
    // Outside the circle, in the square's corner: nothing.
    EXPECT_EQ(pixelAt(image, 21.5, 2.5).alpha(), 0);
}

TEST(MenuBarIconTest, HalfFilledCircleOfThirteenPointSix) {
    const QImage icon = MenuBarIcon::image(10);
    ASSERT_EQ(icon.size(), QSize(180, 160));
    EXPECT_EQ(pixelAt(icon, 12, 8).rgb(), qRgb(0, 0, 0));
    // Right of the centre line at x = 9 the disc is covered; left of it only the
    // outline, 1.4 wide and centred on the circle of diameter 13.6.
    const struct {
        qreal x, y;
        int alpha;
    } samples[] = {{9.2, 8, 255}, {14, 8, 255},  {8.7, 8, 0},     {5, 8, 0},
                   {2.2, 8, 255}, {9, 1.2, 255}, {9, 14.75, 255}, {1.3, 8, 0},
                   {3.1, 8, 0},   {16.7, 8, 0},  {9, 0.3, 0},     {9, 15.7, 0}};
    for (const auto& sample : samples) {
        EXPECT_EQ(pixelAt(icon, sample.x, sample.y).alpha(), sample.alpha)
            << sample.x << "," << sample.y;
    }
}

}  // namespace
}  // namespace vesperine
