#include <gtest/gtest.h>

#include <limits>

#include "shell/PanelGeometry.h"

namespace vesperine {
namespace {

using PanelGeometry::anchoredFrame;
using PanelGeometry::Rect;

// A 1440 x 900 screen whose visible frame stops under a 25-pixel top bar;
// y upward from the bottom-left, as the anchoring rule is written.
const Rect kVisible{0, 0, 1440, 875};
// A 24-pixel tray at the bottom, kept out of the visible frame.
const Rect kAboveBottomTray{0, 24, 1440, 876};

Rect buttonCentredAt(double midX, double bottom = 875) {
    return Rect{midX - 11, bottom, 22, 22};
}

TEST(PanelGeometryTest, AnchorsTheFrameOnEachCase) {
    struct Case {
        const char* name;
        double height;
        Rect button;
        std::optional<Rect> visible;
        Rect expected;
    };
    const Case cases[] = {
        {"centred, 6 below, height rounded up",
         240.3,
         buttonCentredAt(1000),
         kVisible,
         {1000 - 144, 869 - 241, 288, 241}},
        {"right edge wins", 200, buttonCentredAt(1420), kVisible, {1440 - 288, 669, 288, 200}},
        {"left edge", 200, buttonCentredAt(100), kVisible, {0, 669, 288, 200}},
        {"narrower frame: right edge wins",
         200,
         buttonCentredAt(150),
         Rect{50, 0, 200, 875},
         {250 - 288, 669, 288, 200}},
        {"too tall: bottom on the frame",
         1000,
         buttonCentredAt(1000),
         kVisible,
         {1000 - 144, 0, 288, 1000}},
        {"no screen: top touches the button",
         100,
         buttonCentredAt(700, 500),
         std::nullopt,
         {700 - 144, 400, 288, 100}},
        {"bottom tray: above the icon, clamped into the frame",
         200,
         Rect{992, 1, 16, 16},
         kAboveBottomTray,
         {1000 - 144, 24, 288, 200}},
        {"bottom tray: 6 above the icon",
         200,
         Rect{989, 1, 22, 22},
         kAboveBottomTray,
         {1000 - 144, 29, 288, 200}},
        {"bottom tray without a strut",
         200,
         Rect{989, 1, 22, 22},
         Rect{0, 0, 1440, 900},
         {1000 - 144, 29, 288, 200}},
        {"bottom tray, too tall: top on the frame",
         1000,
         Rect{989, 1, 22, 22},
         kAboveBottomTray,
         {1000 - 144, -100, 288, 1000}},
    };
    for (const Case& c : cases) {
        const auto frame = anchoredFrame(c.height, c.button, c.visible);
        ASSERT_TRUE(frame) << c.name;
        EXPECT_EQ(*frame, c.expected) << c.name;
    }
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

TEST(PanelGeometryTest, ConvertsBetweenQtAndTheAnchoringCoordinates) {
    // Qt: a 22x22 icon at the very top of a 900-high primary screen.
    const QRectF qtButton(989, 0, 22, 22);
    const Rect button = PanelGeometry::fromQt(qtButton, 900);
    EXPECT_EQ(button, (Rect{989, 878, 22, 22}));
    const Rect visible = PanelGeometry::fromQt(QRectF(0, 0, 1440, 900), 900);
    const auto frame = anchoredFrame(300, button, visible);
    ASSERT_TRUE(frame);
    // Back in Qt: 6 below the icon's bottom edge, going down.
    EXPECT_EQ(PanelGeometry::toQt(*frame, 900), QRectF(1000 - 144, 28, 288, 300));
}

}  // namespace
}  // namespace vesperine
