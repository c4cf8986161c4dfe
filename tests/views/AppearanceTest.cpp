// The panel's colours, the title glyph and the tray icon, checked on pixels.
#include <QImage>
#include <QPainter>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "shell/MenuBarIcon.h"
#include "views/FilterGlyph.h"
#include "views/Palette.h"

namespace vesperine {
namespace {

using testing::near;

void expectComponents(const QColor& colour, float red, float green, float blue, float alpha) {
    constexpr float tolerance = 1.0f / 65535.0f;
    EXPECT_NEAR(colour.redF(), red, tolerance);
    EXPECT_NEAR(colour.greenF(), green, tolerance);
    EXPECT_NEAR(colour.blueF(), blue, tolerance);
    EXPECT_NEAR(colour.alphaF(), alpha, tolerance);
}

TEST(PaletteTest, ColoursHaveTheirComponents) {
    expectComponents(Palette::panel(), 0.067f, 0.07f, 0.078f, 1.0f);
    expectComponents(Palette::runOn(), 0.17f, 0.7f, 0.44f, 1.0f);
    expectComponents(Palette::runOnBorder(), 0.34f, 0.88f, 0.58f, 0.55f);
    expectComponents(Palette::runOnDot(), 0.8f, 1.0f, 0.88f, 1.0f);
    expectComponents(Palette::controlFill(), 1.0f, 1.0f, 1.0f, 0.055f);
    expectComponents(Palette::controlBorder(), 1.0f, 1.0f, 1.0f, 0.1f);
    expectComponents(Palette::warn(), 0.96f, 0.68f, 0.34f, 1.0f);
    EXPECT_EQ(&Palette::runOn(), &Palette::runOn());
}

TEST(PaletteTest, BorderOverFillShowsAtItsOwnAlpha) {
    QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Palette::runOn());
    QPainter painter(&image);
    painter.fillRect(image.rect(), Palette::runOnBorder());
    painter.end();
    const QColor border = Palette::runOnBorder();
    const QColor fill = Palette::runOn();
    const auto mix = [](float top, float bottom) { return 0.55f * top + 0.45f * bottom; };
    const QColor expected =
        QColor::fromRgbF(mix(border.redF(), fill.redF()), mix(border.greenF(), fill.greenF()),
                         mix(border.blueF(), fill.blueF()));
    EXPECT_TRUE(near(image.pixelColor(1, 1), expected, 1))
        << image.pixelColor(1, 1).name().toStdString();
}

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
    // Inside the left half only the ring shows: transparent within it.
    EXPECT_EQ(glyphPixel(image, 6, 11).alpha(), 0);
    // The ring on the left edge: light grey at reduced opacity.
    const QColor ring = glyphPixel(image, 0.1, 11);
    EXPECT_GT(ring.alpha(), 40);
    EXPECT_LT(ring.alpha(), 200);
    // The right half: opaque, orange near the top, indigo near the bottom.
    const QColor top = glyphPixel(image, 15, 3.5);
    const QColor bottom = glyphPixel(image, 15, 18.5);
    EXPECT_EQ(top.alpha(), 255);
    EXPECT_EQ(bottom.alpha(), 255);
    EXPECT_GT(top.red(), 200);
    EXPECT_GT(top.red(), top.blue() + 80);
    EXPECT_GT(bottom.blue(), bottom.red() + 60);
    // Outside the circle, in the square's corner: nothing.
    EXPECT_EQ(glyphPixel(image, 20.5, 1.5).alpha(), 0);
}

TEST(FilterGlyphTest, SitsInTheLargestSquareAtTheTopLeft) {
    const QImage wide = glyph({40, 22});
    EXPECT_EQ(glyphPixel(wide, 15, 11).alpha(), 255);
    for (qreal x = 23; x < 40; x += 0.5) {
        for (qreal y = 0; y < 22; y += 0.5) {
            ASSERT_EQ(glyphPixel(wide, x, y).alpha(), 0) << x << "," << y;
        }
    }
    const QImage tall = glyph({22, 40});
    EXPECT_EQ(glyphPixel(tall, 15, 11).alpha(), 255);
    for (qreal y = 23; y < 40; y += 0.5) {
        ASSERT_EQ(glyphPixel(tall, 11, y).alpha(), 0) << y;
    }
    const QImage empty = glyph({0, 0});
    for (int x = 0; x < empty.width(); ++x) {
        for (int y = 0; y < empty.height(); ++y) {
            ASSERT_EQ(empty.pixelColor(x, y).alpha(), 0);
        }
    }
}

TEST(MenuBarIconTest, HalfFilledCircleOfThirteenPointSix) {
    EXPECT_EQ(MenuBarIcon::imageSize(), QSize(18, 16));
    const QImage icon = MenuBarIcon::image(10);
    ASSERT_EQ(icon.size(), QSize(180, 160));
    const auto alpha = [&](qreal x, qreal y) { return testing::pixelAt(icon, x, y).alpha(); };
    // Right of the centre line at x = 9 the disc is covered, in black.
    EXPECT_EQ(alpha(9.2, 8), 255);
    EXPECT_EQ(alpha(14, 8), 255);
    EXPECT_EQ(testing::pixelAt(icon, 12, 8).rgb(), qRgb(0, 0, 0));
    // Left of it only the outline: inside transparent, on the edge covered.
    EXPECT_EQ(alpha(8.7, 8), 0);
    EXPECT_EQ(alpha(5, 8), 0);
    EXPECT_EQ(alpha(2.2, 8), 255);
    EXPECT_EQ(alpha(9, 1.2), 255);
    EXPECT_EQ(alpha(9, 14.75), 255);
    // The outline is 1.4 wide, centred on the circle of diameter 13.6.
    EXPECT_EQ(alpha(1.3, 8), 0);
    EXPECT_EQ(alpha(3.1, 8), 0);
    EXPECT_EQ(alpha(16.7, 8), 0);
    EXPECT_EQ(alpha(9, 0.3), 0);
    EXPECT_EQ(alpha(9, 15.7), 0);
    // Symmetric top to bottom, so a flipped surface gives the same picture.
    for (int x = 0; x < icon.width(); ++x) {
        for (int y = 0; y < icon.height() / 2; ++y) {
            ASSERT_NEAR(icon.pixelColor(x, y).alpha(),
                        icon.pixelColor(x, icon.height() - 1 - y).alpha(), 3)
                << x << "," << y;
        }
    }
}

TEST(MenuBarIconTest, DrawingIntoASquareAndAtAnOffset) {
    QImage image(320, 160, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(10);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    MenuBarIcon::draw(painter, QRectF(16, 0, 16, 16), Qt::black);
    painter.end();
    const auto alpha = [&](qreal x, qreal y) { return testing::pixelAt(image, x, y).alpha(); };
    // d = 13.6 in a 16 square: circle (1.2, 1.2, 13.6, 13.6) from the rectangle's corner.
    EXPECT_EQ(alpha(16 + 1.2, 8), 255);
    EXPECT_EQ(alpha(16 + 14.8, 8), 255);
    EXPECT_EQ(alpha(16 + 8.3, 8), 255);
    EXPECT_EQ(alpha(16 + 7.7, 8), 0);
    for (int x = 0; x < 150; ++x) {
        ASSERT_EQ(image.pixelColor(x, 80).alpha(), 0) << x;
    }
}

TEST(MenuBarIconTest, TintKeepsTheShapeInTheNewColour) {
    const QImage mask = MenuBarIcon::image(4);
    for (const QColor colour : {QColor(Qt::white), QColor::fromRgbF(0.3f, 0.3f, 0.3f)}) {
        const QImage tinted = MenuBarIcon::tinted(colour, 4);
        ASSERT_EQ(tinted.size(), mask.size());
        for (int x = 0; x < mask.width(); ++x) {
            for (int y = 0; y < mask.height(); ++y) {
                const QColor pixel = tinted.pixelColor(x, y);
                ASSERT_EQ(pixel.alpha(), mask.pixelColor(x, y).alpha());
                if (pixel.alpha() == 255) {
                    ASSERT_EQ(pixel.rgb(), colour.rgb());
                }
            }
        }
    }
    const QIcon icon = MenuBarIcon::trayIcon(Qt::white);
    EXPECT_FALSE(icon.isNull());
    const QImage square = icon.pixmap(QSize(22, 22)).toImage();
    EXPECT_EQ(square.size(), QSize(22, 22));
    EXPECT_EQ(square.pixelColor(15, 11).alpha(), 255);
    EXPECT_EQ(square.pixelColor(6, 11).alpha(), 0);
}

}  // namespace
}  // namespace vesperine
