// The live filter and engine commands, run as the executable with the stores
// in a temporary home: output, errors and exit status byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::fileExists;
using testing::ProcessResult;
using testing::readFile;
using testing::writeFile;
using Arguments = std::vector<std::string>;

// Lisbon, a winter night and a winter noon.
const char* const kNight = "@2024-01-15 23:00:00";
const char* const kNoon = "@2024-01-15 12:00:00";
const std::string kLisbon = "latitude=38.72\nlongitude=-9.14\n";

class Commands : public ::testing::Test {
  protected:
    ProcessResult run(Arguments arguments, const char* fakeTime = kNoon) const {
        testing::ProcessOptions options;
        options.environment = testing::sessionEnvironment(home, std::nullopt, "unix:path=/none");
        options.environment["TZ"] = "UTC";
        options.environment["DONT_FAKE_MONOTONIC"] = "1";
        // faketime preloads itself ahead of a sanitizer runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        options.environment["ASAN_OPTIONS"] =
            std::string(asan ? asan : "") + ":verify_asan_link_order=0";
        arguments.insert(arguments.begin(), {"faketime", "-f", fakeTime, VESPERINE_EXECUTABLE});
        return testing::runProcess(arguments, options);
    }
    std::string settingsPath() const { return home.file("config/vesperine/settings.ini"); }
    std::string statePath() const { return home.file("state/vesperine/color-filter.ini"); }

    testing::TempDir home;
};

// Words and numbers are parsed by the option rules; here only what the
// commands make of them, their usage errors, and that they never create or
// touch the saved settings.
TEST_F(Commands, LiveCommandsChangeTheLiveStateOnly) {
    writeFile(statePath(), "[ColorFilter]\nenabled=true\ntype=-3\nstrength=1.7\n");
    EXPECT_EQ(run({"--get"}), (ProcessResult{"enabled=true\ntype=-3\nstrength=1.000000\n", "", 0}));
    const std::pair<Arguments, ProcessResult> steps[] = {
        {{"--set-enabled", "ON"}, {"enabled=true\n", "", 0}},
        {{"--set-enabled", "--value", "0"}, {"enabled=false\n", "", 0}},
        {{"--set-intensity", "1.5"}, {"strength=1.000000\n", "", 0}},
        {{"--set-intensity", "--value", "0.3"}, {"strength=0.300000\n", "", 0}},
        {{"--set-enabled"}, {"", "--set-enabled needs 0|1\n", 2}},
        {{"--set-intensity", "0,5"}, {"", "--set-intensity needs a 0..1 value\n", 2}},
        {{"--get"}, {"enabled=false\ntype=-3\nstrength=0.300000\n", "", 0}},
    };
    for (const auto& [arguments, result] : steps) {
        EXPECT_EQ(run(arguments), result) << ::testing::PrintToString(arguments);
    }
    const Arguments reconcile = {"--reconcile", "--lat", "38.72", "--lon", "-9.14", "--apply", "0"};
    EXPECT_EQ(run(reconcile, kNight).exitStatus, 0);  // its output: the dispatch tests
    EXPECT_EQ(run({"--get"}), (ProcessResult{"enabled=true\ntype=-3\nstrength=0.300000\n", "", 0}));
    EXPECT_FALSE(fileExists(home.file("config")));
}

// The engine commands over the saved settings, from none at all (nothing is
// created) to a place whose schedule they follow, leaving the strength alone;
// settings that cannot be read are fail-safe and kept as they are.
TEST_F(Commands, EngineCommandsFollowTheSavedSchedule) {
    const std::string failSafe = "decision=none (fail-safe: engine will do nothing)\n";
    const std::string on = "automationEnabled=true\n" + kLisbon;
    const std::string noPlace = "automationEnabled=1\nlatitude=91\nlongitude=0\n";
    const std::string want = "automationEnabled=true\nhasLocation=true\ncurrentlyEnabled=false\n";
    const std::string dark = "decision=after sunset \xe2\x80\x94 dark -> want ON\n";
    const std::string light =
        "decision=between sunrise and sunset \xe2\x80\x94 light -> want OFF\n";
    const Arguments status = {"--engine-status"}, reconcile = {"--engine-reconcile"};
    const std::tuple<std::string, Arguments, const char*, std::string> steps[] = {
        {"", status, kNoon,
         "automationEnabled=false\nhasLocation=false\ncurrentlyEnabled=false\n" + failSafe},
        {noPlace, status, kNoon,
         "automationEnabled=true\nhasLocation=false\ncurrentlyEnabled=false\n" + failSafe},
        {on, {"--set-intensity", "0.3"}, kNoon, "strength=0.300000\n"},
        {on, status, kNight, want + dark},
        {on, reconcile, kNight, "engine-reconcile: changed=true (OFF -> ON)\n"},
        {"automationEnabled=false\n" + kLisbon, status, kNight,
         "automationEnabled=false\nhasLocation=true\ncurrentlyEnabled=true\n" + failSafe},
        {on, reconcile, kNoon, "engine-reconcile: changed=true (ON -> OFF)\n"},
        {on, {"--set-enabled", "0"}, kNoon, "enabled=false\n"},            // a live command
        {"sunsetOffsetMinutes=360\n" + on, status, kNight, want + light},  // 23:00 is light
        {on + "oops\n", reconcile, kNight, "engine-reconcile: changed=false (OFF -> OFF)\n"},
    };
    // The settings file as it is, down to its inode and time.
    const auto settingsFile = [&] {
        struct stat info {};
        stat(settingsPath().c_str(), &info);
        return std::tuple(readFile(settingsPath()), info.st_ino, info.st_mtim.tv_nsec);
    };
    for (const auto& [settings, arguments, time, out] : steps) {
        if (!settings.empty()) {
            writeFile(settingsPath(), "[vesperine]\n" + settings);
        }
        const auto before = settingsFile();
        EXPECT_EQ(run(arguments, time), (ProcessResult{out, "", 0}));
        EXPECT_EQ(settingsFile(), before) << out;
        EXPECT_EQ(fileExists(home.file("config")), !settings.empty());
    }
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nstrength=0.3\nenabled=false\n");
    EXPECT_EQ(readFile(settingsPath()), "[vesperine]\n" + on + "oops\n");  // not set aside
    EXPECT_EQ(testing::filesIn(home.file("config/vesperine")).size(), 1u);
}

// As a user to whom permissions apply (root reads everything): a store that
// cannot be read is kept as it is and the command says why.
TEST_F(Commands, AChangeThatCannotBeStoredSaysWhyAndExitsOne) {
    const std::string kept = "# mine\n[ColorFilter]\nenabled=false\n";
    writeFile(statePath(), kept);
    chmod(statePath().c_str(), 0);
    Arguments argv = {VESPERINE_EXECUTABLE, "--set-enabled", "1"};
    if (geteuid() == 0) {
        ASSERT_EQ(testing::runProcess({"chown", "-R", "65534:65534", home.path()}).exitStatus, 0);
        argv.insert(argv.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
    }
    testing::ProcessOptions options;
    options.environment = {{"XDG_STATE_HOME", home.file("state")}, {"DISPLAY", std::nullopt}};
    EXPECT_EQ(
        testing::runProcess(argv, options),
        (ProcessResult{"enabled=false\n",
                       "vesperine: cannot read " + statePath() + ": Permission denied\n", 1}));
    chmod(statePath().c_str(), 0600);
    EXPECT_EQ(readFile(statePath()), kept);  // not moved aside either
}

}  // namespace
}  // namespace vesperine
