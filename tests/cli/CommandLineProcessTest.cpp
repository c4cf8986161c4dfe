// The executable end to end: standard output, standard error and the exit
// status, byte for byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "cli/CommandLine.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::ProcessOptions;
using testing::ProcessResult;
using testing::runProcess;

class Executable : public ::testing::Test {
  protected:
    ProcessOptions options() const {
        ProcessOptions o;
        o.environment = {{"TZ", "UTC"},
                         {"XDG_CONFIG_HOME", home.file("config")},
                         {"XDG_STATE_HOME", home.file("state")},
                         {"HOME", home.path()},
                         {"DISPLAY", std::nullopt},
                         {"WAYLAND_DISPLAY", std::nullopt}};
        return o;
    }
    // faketime preloads its library ahead of the sanitizer runtime.
    ProcessOptions fakeTimeOptions() const {
        ProcessOptions o = options();
        o.environment["ASAN_OPTIONS"] = "verify_asan_link_order=0";
        return o;
    }
    ProcessResult run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), VESPERINE_EXECUTABLE);
        return runProcess(arguments, options());
    }
    // With the clock held at a fixed UTC instant.
    ProcessResult runAt(const char* utcTime, std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), VESPERINE_EXECUTABLE);
        arguments.insert(arguments.begin(), {"faketime", "-f", utcTime});
        return runProcess(arguments, fakeTimeOptions());
    }

    testing::TempDir home;
};

const std::string kHelp = std::string(CLI::helpText) + "\n";

TEST_F(Executable, HelpAndUnknownCommands) {
    for (const char* command : {"--help", "-h"}) {
        const auto result = run({command, "--unused", "1"});
        EXPECT_EQ(result.exitStatus, 0);
        EXPECT_EQ(result.out, kHelp);
        EXPECT_EQ(result.err, "");
    }
    const auto unknown = run({"--HELP"});
    EXPECT_EQ(unknown.exitStatus, 2);
    EXPECT_EQ(unknown.err, "unknown command: --HELP\n");
    EXPECT_EQ(unknown.out, kHelp);
}

TEST_F(Executable, HelpTextIsTheSixteenLinesExactly) {
    const char* const lines[] = {
        "vesperine \xe2\x80\x94 menu-bar app. With no arguments it launches the",
        "menu-bar UI. The following headless commands are for testing/scripting",
        "and do NOT touch the app's saved settings:",
        "",
        "  --get                         print live enabled / type / strength",
        "  --set-enabled 0|1             flip Color Filters master (live)",
        "  --set-intensity 0..1          set Color Filters strength (live)",
        "  --decide  --lat D --lon D [--sr-off M --ss-off M]",
        "                                print sunrise/sunset + on/off decision (read-only)",
        "  --reconcile --lat D --lon D [--apply]",
        "                                as --decide; with --apply, set the live state",
        "  --render-panel [dir]          render the UI panels to PNGs (read-only;",
        "                                default dir: docs/evidence/vesperine-ui)",
        "  --selftest                    run headless panel-presentation regression;",
        "                                exit 0 if all pass (read-only)",
        "  --help                        this help",
    };
    std::string expected;
    for (const char* line : lines) {
        expected += line;
        expected += '\n';
    }
    EXPECT_EQ(run({"--help"}).out, expected);
}

TEST_F(Executable, DecideAtAFixedInstant) {
    const auto result = runAt(
        "2024-06-21 12:00:00",
        {"--decide", "--lat", "38.7223", "--lon", "-9.1393", "--sr-off", "0", "--ss-off", "30"});
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.out,
              "now: 2024-06-21 12:00:00 Z\n"
              "sunrise: 2024-06-21 05:12:00 Z\n"
              "sunset: 2024-06-21 20:34:43 Z\n"
              "decision: between sunrise and sunset \xe2\x80\x94 light -> want OFF\n");
}

TEST_F(Executable, DecideInTheLocalTimeZone) {
    ProcessOptions o = fakeTimeOptions();
    o.environment["TZ"] = "Europe/Lisbon";
    const auto result = runProcess({"faketime", "-f", "2024-06-21 21:00:00", VESPERINE_EXECUTABLE,
                                    "--reconcile", "--lat", "38.7223", "--lon", "-9.1393"},
                                   o);
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out,
              "now: 2024-06-21 21:00:00 +01:00\n"
              "sunrise: 2024-06-21 06:12:00 +01:00\n"
              "sunset: 2024-06-21 21:04:43 +01:00\n"
              "decision: between sunrise and sunset \xe2\x80\x94 light -> want OFF\n");
}

TEST_F(Executable, UsageErrorOfDecide) {
    const auto result = run({"--decide", "--lat", "38.7"});
    EXPECT_EQ(result.exitStatus, 2);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "--decide needs --lat <deg> --lon <deg>\n");
}

TEST_F(Executable, UnusualNumbersNeverCrash) {
    const std::vector<std::vector<std::string>> cases = {
        {"--lat", "inf", "--lon", "-inf"},
        {"--lat", "nan", "--lon", "NaN"},
        {"--lat", "1e999", "--lon", "0"},
        {"--lat", "91", "--lon", "181"},
        {"--lat", "38", "--lon", "-9", "--sr-off", "1e308", "--ss-off", "-1e308"},
        {"--lat", "-1e308", "--lon", "1e308", "--sr-off", "nan"},
    };
    for (auto arguments : cases) {
        arguments.insert(arguments.begin(), "--decide");
        const auto result = run(arguments);
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        EXPECT_NE(result.out.find("\ndecision: "), std::string::npos) << result.out;
    }
}

TEST_F(Executable, LinksNoGraphicalLibrary) {
    const auto ldd = runProcess({"ldd", VESPERINE_EXECUTABLE});
    ASSERT_EQ(ldd.exitStatus, 0);
    for (const char* library : {"libQt", "libX11", "libxcb", "libglib", "libgeonames"}) {
        EXPECT_EQ(ldd.out.find(library), std::string::npos) << library << " in\n" << ldd.out;
    }
    // Loading libstdc++ would dominate a command's start-up; sanitizer builds
    // link it dynamically.
    if (!VESPERINE_SANITIZED) {
        EXPECT_EQ(ldd.out.find("libstdc++"), std::string::npos) << ldd.out;
    }
}

TEST_F(Executable, HeadlessCommandsLoadNoGraphicalLibrary) {
    ProcessOptions o = options();
    o.environment["LD_DEBUG"] = "files";
    // A Wayland desktop with a session bus: reading still loads neither.
    o.environment["WAYLAND_DISPLAY"] = "wayland-absent";
    o.environment["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=" + home.file("no-bus");
    const auto decide =
        runProcess({VESPERINE_EXECUTABLE, "--decide", "--lat", "1", "--lon", "2"}, o);
    EXPECT_EQ(decide.exitStatus, 0);
    // The loader's trace is there at all, so an absence below means something.
    EXPECT_NE(decide.err.find("file=libc.so.6"), std::string::npos) << decide.err;
    for (const char* library : {"libQt", "libX11", "libxcb", "libglib", "libgeonames",
                                "libwayland", "libdbus", "libgio"}) {
        EXPECT_EQ(decide.err.find(library), std::string::npos) << library;
    }
    const auto get = runProcess({VESPERINE_EXECUTABLE, "--get"}, o);
    EXPECT_EQ(get.exitStatus, 0);
    EXPECT_NE(get.err.find("libglib-2.0.so.0"), std::string::npos) << "the store loads GLib";
    for (const char* library :
         {"libQt", "libX11", "libxcb", "libgio", "libwayland", "libdbus", "libgeonames"}) {
        EXPECT_EQ(get.err.find(library), std::string::npos) << library;
    }
}

TEST_F(Executable, WithoutTheInterfaceModuleTheDevelopmentPathsSayItIsMissing) {
    if (VESPERINE_INTERFACE_BUILT) {
        GTEST_SKIP() << "this build has the interface module";
    }
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"--selftest"}, {"--render-panel", home.file("pictures")}}) {
        const auto result = run(arguments);
        EXPECT_NE(result.exitStatus, 0);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, "vesperine: the menu-bar interface is not part of this build\n");
    }
}

// An X server that takes connections and never answers, and Qt platforms
// that cannot show the menu-bar item: one line and status 1, never a hang
// or an abort.
TEST_F(Executable, TheInterfaceFailsCleanlyWhereItCannotShowAnything) {
    if (!VESPERINE_INTERFACE_BUILT) {
        GTEST_SKIP() << "this build has no interface module";
    }
    const int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    const int display = 40 + getpid() % 50;
    address.sin_port = htons(static_cast<uint16_t>(6000 + display));
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    const std::string name = "127.0.0.1:" + std::to_string(display);
    const std::string noShow = "vesperine: the menu-bar item cannot be shown on the Qt platform ";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"DISPLAY", name, "vesperine: the X server at " + name + " does not answer\n"},
        {"QT_QPA_PLATFORM", "bogus", "vesperine: the Qt platform bogus is not available\n"},
        {"QT_QPA_PLATFORM", "offscreen", noShow + "offscreen\n"},
        {"QT_QPA_PLATFORM", "minimal", noShow + "minimal\n"}};
    for (const auto& [variable, value, error] : cases) {
        ProcessOptions o = options();
        o.environment[variable] = value;
        std::vector<std::vector<std::string>> runs = {{VESPERINE_EXECUTABLE}};
        if (variable == "DISPLAY") {  // the self-test picks its own platform otherwise
            runs.push_back({VESPERINE_EXECUTABLE, "--selftest"});
        }
        for (const auto& arguments : runs) {
            const auto result = runProcess(arguments, o);
            EXPECT_EQ(result.exitStatus, 1) << error << arguments.size();
            EXPECT_EQ(result.err, error);
            EXPECT_EQ(result.out, "");
        }
    }
    close(silent);
}

}  // namespace
}  // namespace vesperine
