// The executable end to end: standard output, standard error and the exit
// status, byte for byte.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::ProcessOptions;
using testing::ProcessResult;

class Executable : public ::testing::Test {
  protected:
    ProcessOptions options() const {
        ProcessOptions o;
        o.environment =
            testing::sessionEnvironment(home, std::nullopt, "unix:path=" + home.file("no-bus"));
        return o;
    }

    testing::TempDir home;
};

// The time in the zone TZ names, and no graphical library loaded.
TEST_F(Executable, HeadlessCommandsWriteLocalTimesAndLoadNoGraphicalLibrary) {
    ProcessOptions o = options();
    o.environment["TZ"] = "IST-5:30";
    o.environment["LD_DEBUG"] = "files";
    // A Wayland desktop with a session bus: reading still loads neither.
    o.environment["WAYLAND_DISPLAY"] = "wayland-absent";
    const auto decide = testing::runVesperine({"--decide", "--lat", "1", "--lon", "2"}, o);
    const auto get = testing::runVesperine({"--get"}, o);
    EXPECT_EQ(decide.exitStatus, 0);
    EXPECT_NE(decide.out.find(" +05:30\ndecision: "), std::string::npos) << decide.out;
    EXPECT_EQ(get.exitStatus, 0);
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

}  // namespace
}  // namespace vesperine
