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
// A 24-pixel tray at the bottom, kept out of the visible frame, and its 22-pixel icon.
const Rect kAboveBottomTray{0, 24, 1440, 876};
const Rect kBottomIcon{989, 1, 22, 22};

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
    const Rect at1000 = buttonCentredAt(1000);
    const Case cases[] = {
        {"centred, 6 below, rounded up", 240.3, at1000, kVisible, {856, 869 - 241, 288, 241}},
        {"right edge wins", 200, buttonCentredAt(1420), kVisible, {1440 - 288, 669, 288, 200}},
        {"left edge", 200, buttonCentredAt(100), kVisible, {0, 669, 288, 200}},
        {"narrow frame", 200, buttonCentredAt(150), Rect{50, 0, 200, 875}, {-38, 669, 288, 200}},
        {"too tall: bottom on the frame", 1000, at1000, kVisible, {856, 0, 288, 1000}},
        {"no screen", 100, buttonCentredAt(700, 500), std::nullopt, {556, 400, 288, 100}},
        {"bottom tray, clamped", 200, Rect{992, 1, 16, 16}, kAboveBottomTray, {856, 24, 288, 200}},
        {"bottom tray: 6 above", 200, kBottomIcon, kAboveBottomTray, {856, 29, 288, 200}},
        {"bottom tray, no strut", 200, kBottomIcon, Rect{0, 0, 1440, 900}, {856, 29, 288, 200}},
        {"bottom, too tall", 1000, kBottomIcon, kAboveBottomTray, {856, -100, 288, 1000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(anchoredFrame(c.height, c.button, c.visible), c.expected) << c.name;
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

}  // namespace
}  // namespace vesperine
