// The shell's pure parts: where the panel goes, which platform, the
// single-instance lock.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <optional>

#include "shell/InstanceLock.h"
#include "shell/PanelGeometry.h"
#include "shell/PlatformChoice.h"
#include "support/TempDir.h"

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

using Outcome = InstanceLock::Outcome;

TEST(InstanceLockTest, LivesInTheRuntimeFolderOrAPrivateOneInTmp) {
    EXPECT_EQ(InstanceLock::defaultPath("/run/user/1000", 1000), "/run/user/1000/vesperine.lock");
    for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        EXPECT_EQ(InstanceLock::defaultPath(runtime, 42), "/tmp/vesperine-42/vesperine.lock");
    }
}

TEST(InstanceLockTest, ASecondHolderIsRefusedUntilTheFirstLetsGo) {
    testing::TempDir folder;
    const std::string path = folder.file("private/vesperine.lock");
    std::optional<InstanceLock> first;
    first.emplace();
    ASSERT_EQ(first->acquire(path), Outcome::acquired);
    struct stat info {};
    ASSERT_EQ(stat(folder.file("private").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    InstanceLock second;
    EXPECT_EQ(second.acquire(path), Outcome::heldElsewhere);
    first.reset();
    EXPECT_EQ(second.acquire(path), Outcome::acquired);
}

TEST(InstanceLockTest, RefusesFoldersOthersCouldTamperWith) {
    testing::TempDir folder;
    ASSERT_EQ(mkdir(folder.file("open").c_str(), 0777), 0);
    ASSERT_EQ(chmod(folder.file("open").c_str(), 0777), 0);
    InstanceLock lock;
    EXPECT_EQ(lock.acquire(folder.file("open/vesperine.lock")), Outcome::unavailable);

    ASSERT_EQ(mkdir(folder.file("real").c_str(), 0700), 0);
    ASSERT_EQ(symlink(folder.file("real").c_str(), folder.file("link").c_str()), 0);
    EXPECT_EQ(lock.acquire(folder.file("link/vesperine.lock")), Outcome::unavailable);
    EXPECT_EQ(lock.acquire(folder.file("missing/deeper/vesperine.lock")), Outcome::unavailable);
}

PlatformChoice::DisplayAnswer reachable(const std::string&) {
    return PlatformChoice::DisplayAnswer::answers;
}
PlatformChoice::DisplayAnswer unreachable(const std::string&) {
    return PlatformChoice::DisplayAnswer::refuses;
}

TEST(PlatformChoiceTest, TheTrayApplicationRunsOnX11AlsoUnderWayland) {
    using PlatformChoice::forApplication;
    // A Wayland session with XWayland: xcb, whatever the session asked for.
    const auto xwayland = forApplication({":0", "wayland-0", "wayland"}, reachable);
    EXPECT_EQ(xwayland.platform, "xcb");
    EXPECT_FALSE(xwayland.failure);
    // An explicit platform that shows windows is the user's choice.
    const auto vnc = forApplication({std::nullopt, std::nullopt, "vnc"}, unreachable);
    EXPECT_FALSE(vnc.platform);
    EXPECT_FALSE(vnc.failure);

    EXPECT_TRUE(forApplication({"", "", ""}, reachable).failure);
}

TEST(PlatformChoiceTest, TheSelfTestFallsBackToOffscreen) {
    using PlatformChoice::forSelfTest;
    EXPECT_EQ(forSelfTest({":0", std::nullopt, std::nullopt}, reachable).platform, "xcb");
    EXPECT_EQ(forSelfTest({":0", std::nullopt, "xcb"}, unreachable).platform, "offscreen");
    EXPECT_EQ(forSelfTest({std::nullopt, "wayland-0", "wayland"}, reachable).platform, "offscreen");
}

}  // namespace
}  // namespace vesperine
