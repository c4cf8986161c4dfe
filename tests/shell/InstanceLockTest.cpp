#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <optional>

#include "shell/InstanceLock.h"
#include "shell/PlatformChoice.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

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
