// The executable end to end, its stores in a temporary home: standard output,
// standard error and the exit status, byte for byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::fileExists;
using testing::ProcessOptions;
using testing::ProcessResult;
using testing::readFile;
using testing::writeFile;
using Arguments = std::vector<std::string>;

// Lisbon, a winter night and a winter noon.
const char* const kNight = "@2024-01-15 23:00:00";
const char* const kNoon = "@2024-01-15 12:00:00";
const std::string kLisbon = "latitude=38.72\nlongitude=-9.14\n";

class Executable : public ::testing::Test {
  protected:
    ProcessOptions options() const {
        ProcessOptions o;
        o.environment =
            testing::sessionEnvironment(home, std::nullopt, "unix:path=" + home.file("no-bus"));
        return o;
    }
    // At `fakeTime` in UTC.
    ProcessResult run(Arguments arguments, const char* fakeTime = kNoon) const {
        ProcessOptions o = options();
        o.environment["TZ"] = "UTC";
        o.environment["DONT_FAKE_MONOTONIC"] = "1";
        // faketime preloads itself ahead of a sanitizer runtime.
        const char* asan = std::getenv("ASAN_OPTIONS");
        o.environment["ASAN_OPTIONS"] = std::string(asan ? asan : "") + ":verify_asan_link_order=0";
        arguments.insert(arguments.begin(), {"faketime", "-f", fakeTime, VESPERINE_EXECUTABLE});
        return testing::runProcess(arguments, o);
    }
    std::string settingsPath() const { return home.file("config/vesperine/settings.ini"); }
    std::string statePath() const { return home.file("state/vesperine/color-filter.ini"); }

    testing::TempDir home;
};
using Commands = Executable;

// The time in the zone TZ names, and no graphical library loaded.
TEST_F(Executable, HeadlessCommandsWriteLocalTimesAndLoadNoGraphicalLibrary) {
    ProcessOptions o = options();
    o.environment["TZ"] = "IST-5:30";
    o.environment["LD_DEBUG"] = "files";
    // A Wayland desktop with a session bus: reading still loads neither.
    o.environment["WAYLAND_DISPLAY"] = "wayland-absent";
    const auto decide = testing::runVesperine({"--decide", "--lat", "1", "--lon", "2"}, o);
    const auto get = testing::runVesperine({"--get"}, o);
    EXPECT_NE(decide.out.find(" +05:30\ndecision: "), std::string::npos) << decide.out;
    // The loader's trace is there at all, so an absence below means something.
    EXPECT_NE(decide.err.find("file=libc.so.6"), std::string::npos) << decide.err;
    EXPECT_NE(get.err.find("libglib-2.0.so.0"), std::string::npos) << "the store loads GLib";
    EXPECT_EQ(decide.err.find("libglib"), std::string::npos);
    for (const char* library :
         {"libQt", "libX11", "libxcb", "libgio", "libwayland", "libdbus", "libgeonames"}) {
        EXPECT_EQ(decide.err.find(library), std::string::npos) << library;
        EXPECT_EQ(get.err.find(library), std::string::npos) << library;
    }
    // Loading libstdc++ would dominate a command's start-up; sanitizer builds
    // link it dynamically.
    if (!VESPERINE_SANITIZED) {
        EXPECT_EQ(decide.err.find("libstdc++"), std::string::npos);
    }
}

// An X server that takes connections and never answers, and Qt platforms
// that cannot show the menu-bar item: one line and status 1, never a hang
// or an abort. Without the interface module, each way into it says so.
TEST_F(Executable, TheInterfaceFailsCleanlyWhereItCannotShowAnything) {
    if (!VESPERINE_INTERFACE_BUILT) {
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{}, {"--selftest"}, {"--render-panel", home.file("out")}}) {
            EXPECT_EQ(testing::runVesperine(arguments, options()),
                      (ProcessResult{
                          "", "vesperine: the menu-bar interface is not part of this build\n", 1}));
        }
        return;
    }
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    const int display = 40 + getpid() % 50;
    address.sin_port = htons(static_cast<uint16_t>(6000 + display));
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    const std::string name = "127.0.0.1:" + std::to_string(display);
    const std::string noShow = "vesperine: the menu-bar item cannot be shown on the Qt platform ";
    const std::string silentX = "vesperine: the X server at " + name + " does not answer\n";
    const std::tuple<std::string, std::string, std::vector<std::string>, std::string> cases[] = {
        {"DISPLAY", name, {}, silentX},
        // The self-test picks its own platform, but not past a silent X server.
        {"DISPLAY", name, {"--selftest"}, silentX},
        {"QT_QPA_PLATFORM", "bogus", {}, "vesperine: the Qt platform bogus is not available\n"},
        {"QT_QPA_PLATFORM", "offscreen", {}, noShow + "offscreen\n"},
        {"QT_QPA_PLATFORM", "minimal", {}, noShow + "minimal\n"}};
    for (const auto& [variable, value, arguments, error] : cases) {
        ProcessOptions o = options();
        o.environment[variable] = value;
        EXPECT_EQ(testing::runVesperine(arguments, o), (ProcessResult{"", error, 1})) << value;
    }
    close(silent);
}

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
    EXPECT_EQ(
        testing::runProcess(argv, options()),
        (ProcessResult{"enabled=false\n",
                       "vesperine: cannot read " + statePath() + ": Permission denied\n", 1}));
    chmod(statePath().c_str(), 0600);
    EXPECT_EQ(readFile(statePath()), kept);  // not moved aside either
}

}  // namespace
}  // namespace vesperine
