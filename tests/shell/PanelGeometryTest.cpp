#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "shell/PanelGeometry.h"

namespace vesperine {
namespace {

using PanelGeometry::anchoredFrame;
using PanelGeometry::Rect;

// A 1440 x 900 screen whose visible frame stops under a 25-pixel top bar;
// y upward from the bottom-left, as the anchoring rule is written.
const Rect kVisible{0, 0, 1440, 875};

Rect buttonCentredAt(double midX, double bottom = 875) {
    return Rect{midX - 11, bottom, 22, 22};
}

TEST(PanelGeometryTest, CentresUnderTheIconAndClampsToTheVisibleFrame) {
    EXPECT_EQ(anchoredFrame(200, buttonCentredAt(1000), kVisible)->x, 1000 - 144);
    // Near the right edge the right edge of the frame wins.
    EXPECT_EQ(anchoredFrame(200, buttonCentredAt(1420), kVisible)->x, 1440 - 288);
    EXPECT_EQ(anchoredFrame(200, buttonCentredAt(100), kVisible)->x, 0);
    // A frame narrower than the panel: the right edge still wins.
    const Rect narrow{50, 0, 200, 875};
    EXPECT_EQ(anchoredFrame(200, buttonCentredAt(150), narrow)->x, 250 - 288);
    EXPECT_EQ(anchoredFrame(200, buttonCentredAt(1000), kVisible)->width, 288);
}

TEST(PanelGeometryTest, HangsSixBelowTheIconWithTheHeightRoundedUp) {
    const auto frame = anchoredFrame(240.3, buttonCentredAt(1000, 875), kVisible);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->height, 241);
    EXPECT_EQ(frame->maxY(), 869);
    EXPECT_EQ(frame->y, 869 - 241);
}

TEST(PanelGeometryTest, ATallContentKeepsItsBottomOnTheFrameAndGrowsUpward) {
    const auto frame = anchoredFrame(1000, buttonCentredAt(1000), kVisible);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->y, 0);
    EXPECT_EQ(frame->height, 1000);
}

TEST(PanelGeometryTest, IgnoresPlaceholderAndNonFiniteHeights) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (double height : {-5.0, 0.0, 0.5, 1.0, nan, inf, -inf}) {
        EXPECT_FALSE(anchoredFrame(height, buttonCentredAt(1000), kVisible)) << height;
    }
    // 1.2 rounds up to 2, which is taller than the placeholder.
    EXPECT_TRUE(anchoredFrame(1.2, buttonCentredAt(1000), kVisible));
}

TEST(PanelGeometryTest, WithoutAScreenTheTopTouchesTheButton) {
    const Rect button = buttonCentredAt(700, 500);
    const auto frame = anchoredFrame(100, button, std::nullopt);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->x, 700 - 144);
    EXPECT_EQ(frame->maxY(), 500);
}

TEST(PanelGeometryTest, ATrayAtTheBottomPutsThePanelAboveTheIcon) {
    // A 24-pixel bar at the bottom, kept out of the visible frame.
    const Rect visible{0, 24, 1440, 876};
    const Rect small{992, 1, 16, 16};
    const auto frame = anchoredFrame(200, small, visible);
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->y, 24);  // 6 above the icon is still inside the bar
    EXPECT_EQ(frame->x, 1000 - 144);

    const Rect button{989, 1, 22, 22};
    EXPECT_EQ(anchoredFrame(200, button, visible)->y, 23 + 6);

    // Without a strut the icon lies in the frame: 6 above its top.
    const auto overlapping = anchoredFrame(200, button, Rect{0, 0, 1440, 900});
    ASSERT_TRUE(overlapping);
    EXPECT_EQ(overlapping->y, 23 + 6);
    // Taller than the room above: the top stays on the frame.
    const auto tall = anchoredFrame(1000, button, visible);
    ASSERT_TRUE(tall);
    EXPECT_EQ(tall->maxY(), 900);
}

TEST(PanelGeometryTest, ConvertsBetweenQtAndTheAnchoringCoordinates) {
    // Qt: a 22x22 icon at the very top of a 900-high primary screen.
    const QRectF qtButton(989, 0, 22, 22);
    const Rect button = PanelGeometry::fromQt(qtButton, 900);
    EXPECT_EQ(button, (Rect{989, 878, 22, 22}));
    EXPECT_EQ(PanelGeometry::toQt(button, 900), qtButton);

    const Rect visible = PanelGeometry::fromQt(QRectF(0, 0, 1440, 900), 900);
    const auto frame = anchoredFrame(300, button, visible);
    ASSERT_TRUE(frame);
    // Back in Qt: 6 below the icon's bottom edge, going down.
    EXPECT_EQ(PanelGeometry::toQt(*frame, 900), QRectF(1000 - 144, 28, 288, 300));
}

}  // namespace
}  // namespace vesperine
