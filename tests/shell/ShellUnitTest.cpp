// The shell's pure parts: where the panel goes, which platform, the
// single-instance lock.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <optional>

#include "shell/InstanceLock.h"
#include "shell/PanelGeometry.h"
#include "shell/PlatformChoice.h"
#include "shell/X11Session.h"
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
        {"1.2 rounds up past 1", 1.2, at1000, kVisible, {856, 869 - 2, 288, 2}},
        {"right edge wins", 200, buttonCentredAt(1420), kVisible, {1440 - 288, 669, 288, 200}},
        {"left edge", 200, buttonCentredAt(100), kVisible, {0, 669, 288, 200}},
        {"narrow frame", 200, buttonCentredAt(150), Rect{50, 0, 200, 875}, {-38, 669, 288, 200}},
        {"too tall: bottom on the frame", 1000, at1000, kVisible, {856, 0, 288, 1000}},
        {"no screen", 100, buttonCentredAt(700, 500), std::nullopt, {556, 400, 288, 100}},
        {"bottom tray, clamped", 200, Rect{992, 1, 16, 16}, kAboveBottomTray, {856, 24, 288, 200}},
        {"bottom tray: 6 above", 200, kBottomIcon, kAboveBottomTray, {856, 29, 288, 200}},
        {"bottom, too tall", 1000, kBottomIcon, kAboveBottomTray, {856, -100, 288, 1000}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(anchoredFrame(c.height, c.button, c.visible), c.expected) << c.name;
    }
    // The placeholder height and what no layout should produce.
    for (double height : {-5.0, 0.0, 0.5, 1.0, std::nan(""), HUGE_VAL, -HUGE_VAL}) {
        EXPECT_FALSE(anchoredFrame(height, at1000, kVisible)) << height;
    }
}

using Outcome = InstanceLock::Outcome;

// A second start finding the lock held is the tray test's second start.
TEST(InstanceLockTest, LivesInAPrivateFolderAndRefusesFoldersOthersCouldTamperWith) {
    EXPECT_EQ(InstanceLock::defaultPath("/run/user/1000", 1000), "/run/user/1000/vesperine.lock");
    for (const char* runtime : {static_cast<const char*>(nullptr), "", "relative/dir"}) {
        EXPECT_EQ(InstanceLock::defaultPath(runtime, 42), "/tmp/vesperine-42/vesperine.lock");
    }
    testing::TempDir folder;
    InstanceLock lock;
    ASSERT_EQ(lock.acquire(folder.file("private/vesperine.lock")), Outcome::acquired);
    struct stat info {};
    ASSERT_EQ(stat(folder.file("private").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    ASSERT_EQ(mkdir(folder.file("open").c_str(), 0777), 0);
    ASSERT_EQ(chmod(folder.file("open").c_str(), 0777), 0);
    ASSERT_EQ(mkdir(folder.file("real").c_str(), 0700), 0);
    ASSERT_EQ(symlink(folder.file("real").c_str(), folder.file("link").c_str()), 0);
    for (const char* path : {"open/vesperine.lock", "link/vesperine.lock", "missing/deeper/x"}) {
        EXPECT_EQ(InstanceLock().acquire(folder.file(path)), Outcome::unavailable) << path;
    }
}

TEST(PlatformChoiceTest, TheTrayApplicationNeedsX11AndTheSelfTestFallsBackToOffscreen) {
    using namespace PlatformChoice;
    const DisplayProbe answers = [](const std::string&) { return DisplayAnswer::answers; };
    const DisplayProbe refuses = [](const std::string&) { return DisplayAnswer::refuses; };
    // A Wayland session with XWayland: xcb, whatever the session asked for.
    const auto xwayland = forApplication({":0", "wayland-0", "wayland"}, answers);
    EXPECT_EQ(xwayland.platform, "xcb");
    EXPECT_FALSE(xwayland.failure);
    // An explicit platform that shows windows is the user's choice.
    const auto vnc = forApplication({{}, {}, "vnc"}, refuses);
    EXPECT_FALSE(vnc.platform || vnc.failure);
    const std::string unset = "(DISPLAY is not set)\n";
    EXPECT_EQ(forApplication({"", "", ""}, answers).failure,
              "vesperine: no display to show the menu-bar item on " + unset);
    EXPECT_EQ(forApplication({{}, "wayland-0", {}}, answers).failure,
              "vesperine: no X display: the menu-bar item needs X11 or XWayland " + unset);
    // No X server there at all is a refusal, not a silence.
    EXPECT_EQ(forApplication({":97", {}, {}}, X11Session::probeDisplay).failure,
              "vesperine: cannot open display :97\n");

    EXPECT_EQ(forSelfTest({":0", {}, {}}, answers).platform, "xcb");
    EXPECT_EQ(forSelfTest({":0", {}, "xcb"}, refuses).platform, "offscreen");
    EXPECT_EQ(forSelfTest({{}, "wayland-0", "wayland"}, answers).platform, "offscreen");
}

}  // namespace
}  // namespace vesperine
