// The live filter and engine commands, run as the executable with the stores
// in a temporary home: output, errors and exit status byte for byte.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>

#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::fileExists;
using testing::ProcessResult;
using testing::readFile;
using testing::runProcess;
using testing::writeFile;

// Lisbon, a winter night and a winter noon.
const char* const kNight = "@2024-01-15 23:00:00";
const char* const kNoon = "@2024-01-15 12:00:00";
const std::string kLisbon = "latitude=38.72\nlongitude=-9.14\n";

std::string asanOptions() {
    const char* options = std::getenv("ASAN_OPTIONS");
    return std::string(options ? options : "") + ":verify_asan_link_order=0";
}

class Commands : public ::testing::Test {
  protected:
    ProcessResult run(std::vector<std::string> arguments, const char* fakeTime = kNoon) const {
        testing::ProcessOptions options;
        options.environment = {{"TZ", "UTC"},
                               {"XDG_CONFIG_HOME", home.file("config")},
                               {"XDG_STATE_HOME", home.file("state")},
                               {"HOME", home.path()},
                               {"DISPLAY", std::nullopt},
                               {"DONT_FAKE_MONOTONIC", "1"},
                               // faketime preloads itself ahead of a sanitizer runtime.
                               {"ASAN_OPTIONS", asanOptions()}};
        arguments.insert(arguments.begin(), {"faketime", "-f", fakeTime, VESPERINE_EXECUTABLE});
        return runProcess(arguments, options);
    }
    std::string settingsPath() const { return home.file("config/vesperine/settings.ini"); }
    std::string statePath() const { return home.file("state/vesperine/color-filter.ini"); }
    void expectOk(const ProcessResult& result, const std::string& out) const {
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitStatus, 0);
    }

    testing::TempDir home;
};

TEST_F(Commands, GetPrintsDefaultsAndStoredValues) {
    expectOk(run({"--get", "--value", "1"}), "enabled=false\ntype=1\nstrength=0.500000\n");
    EXPECT_FALSE(fileExists(home.file("state")));
    writeFile(statePath(), "[ColorFilter]\nenabled=true\ntype=-3\nstrength=1.7\n");
    expectOk(run({"--get"}), "enabled=true\ntype=-3\nstrength=1.000000\n");
}

// Words and numbers are parsed by the option rules; here only what the
// commands make of them, and their usage errors.
TEST_F(Commands, SetEnabledAndSetIntensity) {
    const std::pair<std::vector<std::string>, std::string> good[] = {
        {{"--set-enabled", "ON"}, "enabled=true\n"},
        {{"--set-enabled", "--value", "0"}, "enabled=false\n"},
        {{"--set-intensity", "1.5"}, "strength=1.000000\n"},
        {{"--set-intensity", "nan"}, "strength=0.000000\n"},
        {{"--set-intensity", "--value", "0.3"}, "strength=0.300000\n"}};
    for (const auto& [arguments, out] : good) {
        expectOk(run(arguments), out);
    }
    const std::pair<std::vector<std::string>, std::string> bad[] = {
        {{"--set-enabled"}, "--set-enabled needs 0|1\n"},
        {{"--set-enabled", "2"}, "--set-enabled needs 0|1\n"},
        {{"--set-enabled", "--value", ""}, "--set-enabled needs 0|1\n"},
        {{"--set-intensity", "0,5"}, "--set-intensity needs a 0..1 value\n"},
        {{"--set-intensity", "--value", ""}, "--set-intensity needs a 0..1 value\n"}};
    for (const auto& [arguments, err] : bad) {
        const auto result = run(arguments);
        EXPECT_EQ(result.exitStatus, 2) << arguments.back();
        EXPECT_EQ(result.err, err);
        EXPECT_EQ(result.out, "");
    }
    EXPECT_EQ(run({"--get"}).out, "enabled=false\ntype=1\nstrength=0.300000\n");
}

TEST_F(Commands, ReconcileApplyChangesTheLiveStateOnce) {
    const std::vector<std::string> apply{"--reconcile", "--lat",   "38.72", "--lon",
                                         "-9.14",       "--apply", "0"};
    const auto first = run(apply, kNight);
    EXPECT_EQ(first.exitStatus, 0);
    EXPECT_TRUE(first.out.ends_with(
        "decision: after sunset \xe2\x80\x94 dark -> want ON\napplied: OFF -> ON (changed)\n"))
        << first.out;
    EXPECT_TRUE(run(apply, kNight).out.ends_with("\napplied: already ON (no change)\n"));
    EXPECT_EQ(run({"--get"}).out, "enabled=true\ntype=1\nstrength=0.500000\n");
}

TEST_F(Commands, CommandsWithoutTheEngineNeverTouchTheSettings) {
    const std::vector<std::vector<std::string>> commands = {
        {"--decide", "--lat", "38.72", "--lon", "-9.14"},
        {"--reconcile", "--lat", "38.72", "--lon", "-9.14", "--apply"},
        {"--get"},
        {"--set-enabled", "1"},
        {"--set-intensity", "0.2"}};
    for (const auto& command : commands) {
        EXPECT_EQ(run(command, kNight).exitStatus, 0);
    }
    EXPECT_FALSE(fileExists(home.file("config")));

    const std::string text = "# mine\n[vesperine]\nautomationEnabled=false\n" + kLisbon;
    writeFile(settingsPath(), text);
    struct stat before {};
    stat(settingsPath().c_str(), &before);
    for (const auto& command : commands) {
        EXPECT_EQ(run(command, kNoon).exitStatus, 0);
    }
    struct stat after {};
    stat(settingsPath().c_str(), &after);
    EXPECT_EQ(readFile(settingsPath()), text);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(after.st_ino, before.st_ino);
}

TEST_F(Commands, EngineStatusFailSafeCases) {
    const std::string failSafe =
        "currentlyEnabled=false\ndecision=none (fail-safe: engine will do nothing)\n";
    expectOk(run({"--engine-status"}), "automationEnabled=false\nhasLocation=false\n" + failSafe);
    EXPECT_FALSE(fileExists(home.file("config")));
    writeFile(settingsPath(), "[vesperine]\nautomationEnabled=1\nlatitude=91\nlongitude=0\n");
    expectOk(run({"--engine-status"}), "automationEnabled=true\nhasLocation=false\n" + failSafe);
    expectOk(run({"--engine-reconcile"}, kNight), "engine-reconcile: changed=false (OFF -> OFF)\n");
}

TEST_F(Commands, EngineReconcileFollowsTheScheduleAndLeavesTheStrength) {
    writeFile(settingsPath(), "[vesperine]\nautomationEnabled=true\n" + kLisbon);
    expectOk(run({"--set-intensity", "0.3"}), "strength=0.300000\n");
    expectOk(run({"--engine-status"}, kNight),
             "automationEnabled=true\nhasLocation=true\ncurrentlyEnabled=false\n"
             "decision=after sunset \xe2\x80\x94 dark -> want ON\n");
    expectOk(run({"--engine-reconcile"}, kNight), "engine-reconcile: changed=true (OFF -> ON)\n");
    expectOk(run({"--engine-reconcile"}, kNight), "engine-reconcile: changed=false (ON -> ON)\n");
    expectOk(run({"--engine-reconcile"}, kNoon), "engine-reconcile: changed=true (ON -> OFF)\n");
    EXPECT_EQ(readFile(statePath()), "[ColorFilter]\nstrength=0.3\nenabled=false\n");

    // Sunset six hours later: 23:00 is still light.
    writeFile(settingsPath(),
              "[vesperine]\nautomationEnabled=true\nsunsetOffsetMinutes=360\n" + kLisbon);
    expectOk(run({"--engine-status"}, kNight),
             "automationEnabled=true\nhasLocation=true\ncurrentlyEnabled=false\n"
             "decision=between sunrise and sunset \xe2\x80\x94 light -> want OFF\n");
}

// As a user to whom permissions apply (root reads everything): a store that
// cannot be read or written is kept as it is and the command says why.
TEST_F(Commands, AChangeThatCannotBeStoredSaysWhyAndExitsOne) {
    const std::string folder = home.file("state/vesperine");
    std::filesystem::create_directories(folder);
    const std::string kept = "# mine\n[ColorFilter]\nenabled=false\n";
    writeFile(statePath(), kept);
    const auto asUser = [&](const std::vector<std::string>& arguments) {
        std::vector<std::string> argv;
        if (geteuid() == 0) {
            EXPECT_EQ(runProcess({"chown", "-R", "65534:65534", home.path()}).exitStatus, 0);
            argv = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
        }
        argv.push_back(VESPERINE_EXECUTABLE);
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        testing::ProcessOptions options;
        options.environment = {{"XDG_STATE_HOME", home.file("state")}, {"DISPLAY", std::nullopt}};
        return runProcess(argv, options);
    };
    const std::pair<std::function<void()>, std::string> cases[] = {
        {[&] { chmod(statePath().c_str(), 0); },
         "cannot read " + statePath() + ": Permission denied"},
        {[&] { chmod(folder.c_str(), 0500); },
         "cannot lock " + statePath() + ".lock: Permission denied"},
    };
    for (const auto& [prepare, error] : cases) {
        prepare();
        const auto result = asUser({"--set-enabled", "1"});
        EXPECT_EQ(result.exitStatus, 1) << error;
        EXPECT_EQ(result.err, "vesperine: " + error + "\n");
        EXPECT_EQ(result.out, "enabled=false\n");
        chmod(statePath().c_str(), 0600);
        chmod(folder.c_str(), 0700);
        std::filesystem::remove(statePath() + ".lock");
        EXPECT_EQ(readFile(statePath()), kept);  // not moved aside either
    }
}

TEST_F(Commands, UnreadableSettingsAreFailSafeAndKept) {
    const std::string garbage = "[vesperine]\nautomationEnabled=true\n" + kLisbon + "oops\n";
    writeFile(settingsPath(), garbage);
    expectOk(run({"--engine-reconcile"}, kNight), "engine-reconcile: changed=false (OFF -> OFF)\n");
    EXPECT_EQ(run({"--engine-status"}, kNight).out.find("automationEnabled=false\n"), 0u);
    EXPECT_EQ(readFile(settingsPath()), garbage);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(home.file("config/vesperine")),
                            std::filesystem::directory_iterator()),
              1);
}

}  // namespace
}  // namespace vesperine
