// The title glyph and the tray icon, checked on pixels.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/FilterGlyph.h"
#include "views/MenuBarIcon.h"

namespace vesperine {
namespace {

// The glyph drawn into a box of logical pixels at 4 device pixels each.
QImage glyph(QSizeF box) {
    constexpr qreal ratio = 4;
    QImage image((box.toSize() + QSize(2, 2)) * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.translate(1, 1);  // room for the half of the ring outside the box
    FilterGlyph::draw(painter, box);
    return image;
}

QColor glyphPixel(const QImage& image, qreal x, qreal y) {
    return testing::pixelAt(image, x + 1, y + 1);
}

TEST(FilterGlyphTest, RingOnTheLeftAndShadedHalfDiscOnTheRight) {
    const QImage image = glyph({22, 22});
    // Inside the left half only the ring shows, light grey at reduced opacity.
    EXPECT_EQ(glyphPixel(image, 6, 11).alpha(), 0);
    const QColor ring = glyphPixel(image, 0.1, 11);
    EXPECT_GT(ring.alpha(), 40);
    EXPECT_LT(ring.alpha(), 200);
    // The right half: opaque, orange near the top, indigo near the bottom.
    const QColor top = glyphPixel(image, 15, 3.5);
    const QColor bottom = glyphPixel(image, 15, 18.5);
    EXPECT_EQ(top.alpha(), 255);
    EXPECT_EQ(bottom.alpha(), 255);
    EXPECT_GT(top.red(), top.blue() + 80);
    EXPECT_GT(bottom.blue(), bottom.red() + 60);
    // Outside the circle, in the square's corner: nothing.
    EXPECT_EQ(glyphPixel(image, 20.5, 1.5).alpha(), 0);
}

TEST(MenuBarIconTest, HalfFilledCircleOfThirteenPointSix) {
    EXPECT_EQ(MenuBarIcon::imageSize(), QSize(18, 16));
    const QImage icon = MenuBarIcon::image(10);
    ASSERT_EQ(icon.size(), QSize(180, 160));
    EXPECT_EQ(testing::pixelAt(icon, 12, 8).rgb(), qRgb(0, 0, 0));
    // Right of the centre line at x = 9 the disc is covered; left of it only the
    // outline, 1.4 wide and centred on the circle of diameter 13.6.
    const struct {
        qreal x, y;
        int alpha;
    } samples[] = {{9.2, 8, 255}, {14, 8, 255},  {8.7, 8, 0},     {5, 8, 0},
                   {2.2, 8, 255}, {9, 1.2, 255}, {9, 14.75, 255}, {1.3, 8, 0},
                   {3.1, 8, 0},   {16.7, 8, 0},  {9, 0.3, 0},     {9, 15.7, 0}};
    for (const auto& sample : samples) {
        EXPECT_EQ(testing::pixelAt(icon, sample.x, sample.y).alpha(), sample.alpha)
            << sample.x << "," << sample.y;
    }
    // Symmetric top to bottom, so a flipped surface gives the same picture.
    for (int x = 0; x < icon.width(); ++x) {
        for (int y = 0; y < icon.height() / 2; ++y) {
            ASSERT_NEAR(icon.pixelColor(x, y).alpha(),
                        icon.pixelColor(x, icon.height() - 1 - y).alpha(), 3)
                << x << "," << y;
        }
    }
}

TEST(MenuBarIconTest, TintKeepsTheShapeInTheNewColour) {
    const QImage mask = MenuBarIcon::image(4);
    const QColor grey = QColor::fromRgbF(0.3f, 0.3f, 0.3f);
    const QImage tinted = MenuBarIcon::tinted(grey, 4);
    ASSERT_EQ(tinted.size(), mask.size());
    for (int x = 0; x < mask.width(); ++x) {
        for (int y = 0; y < mask.height(); ++y) {
            const QColor pixel = tinted.pixelColor(x, y);
            ASSERT_EQ(pixel.alpha(), mask.pixelColor(x, y).alpha());
            if (pixel.alpha() == 255) {
                ASSERT_EQ(pixel.rgb(), grey.rgb());
            }
        }
    }
    const QImage square = MenuBarIcon::trayIcon(Qt::white).pixmap(QSize(22, 22)).toImage();
    EXPECT_EQ(square.pixelColor(15, 11).alpha(), 255);
    EXPECT_EQ(square.pixelColor(6, 11).alpha(), 0);
}

}  // namespace
}  // namespace vesperine
