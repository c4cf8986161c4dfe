#include <gtest/gtest.h>

#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::ProcessOptions;
using testing::runProcess;
using testing::TempDir;

// A session with no screen at all, its folders in `home`.
ProcessOptions headless(const TempDir& home) {
    ProcessOptions options;
    options.environment =
        testing::sessionEnvironment(home, std::nullopt, "unix:path=" + home.file("no-bus"));
    options.timeoutSeconds = 30;
    return options;
}

TEST(ShellProcessTest, TheSelfTestPassesWithoutADisplay) {
    TempDir home;
    const auto result = runProcess({VESPERINE_EXECUTABLE, "--selftest"}, headless(home));
    EXPECT_EQ(result.out,
              "  ok   presentation uses a key panel with no global mouse monitor\n"
              "  ok   panel close path has a resign-key reentrancy guard\n"
              "  ok   panel stays key for controls and text until a genuine resign\n"
              "selftest: 3 passed, 0 failed\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitStatus, 0);
}

TEST(ShellProcessTest, WithoutADisplayTheTrayApplicationSaysSoOnceAndFails) {
    TempDir home;
    const auto plain = runProcess({VESPERINE_EXECUTABLE, "-platform", "offscreen"}, headless(home));
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err,
              "vesperine: no display to show the menu-bar item on (DISPLAY is not set)\n");
    EXPECT_NE(plain.exitStatus, 0);
    // A Wayland session without XWayland cannot place the panel either.
    auto options = headless(home);
    options.environment["WAYLAND_DISPLAY"] = "wayland-0";
    const auto result = runProcess({VESPERINE_EXECUTABLE}, options);
    EXPECT_EQ(result.err,
              "vesperine: no X display: the menu-bar item needs X11 or XWayland "
              "(DISPLAY is not set)\n");
    EXPECT_NE(result.exitStatus, 0);
    // A display that does not answer is not a crash.
    options.environment["DISPLAY"] = ":97";
    const auto unreachable = runProcess({VESPERINE_EXECUTABLE}, options);
    EXPECT_EQ(unreachable.err, "vesperine: cannot open display :97\n");
    EXPECT_EQ(unreachable.exitStatus, 1);
}

}  // namespace
}  // namespace vesperine
