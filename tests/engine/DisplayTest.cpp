// The filter on a real X server: Xvfb with two screens, its CRTC gamma ramps
// read back. What the ramps should be is the warm tint's own (tested on its own).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "engine/WarmTint.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

namespace vesperine {
namespace {

using testing::ProcessResult;

class OnAServer : public ::testing::Test {
  protected:
    ProcessResult run(std::vector<std::string> arguments,
                      std::optional<std::string> display) const {
        testing::ProcessOptions options;
        options.environment = testing::sessionEnvironment(home, display, "unix:path=/none");
        options.timeoutSeconds = 20;
        return testing::runVesperine(arguments, options);
    }

    testing::TempDir home;
};

TEST_F(OnAServer, TintsEveryCrtcChangesWithTheStrengthAndGivesTheColoursBack) {
    // Two screens. -noreset keeps the ramps when the last client leaves: a
    // real session always has its window manager.
    testing::DesktopSession session(home);
    ASSERT_TRUE(session.startXServer(
        {"-noreset", "-screen", "0", "640x480x24", "-screen", "1", "320x240x24"}));
    const std::string name = session.display();
    // Without a display only the file changes; it reaches the screen with the
    // next apply that can draw.
    const std::tuple<std::vector<std::string>, bool, std::string, bool, double> steps[] = {
        // command, whether it has the display, its output, the tint on screen
        {{"--set-enabled", "0"}, true, "enabled=false\n", false, 0},
        {{"--set-enabled", "1"}, true, "enabled=true\n", true, 0.5},
        {{"--set-intensity", "0.9"}, true, "strength=0.900000\n", true, 0.9},
        {{"--set-enabled", "0"}, true, "enabled=false\n", false, 0},
        {{"--set-enabled", "1"}, false, "enabled=true\n", false, 0},
        {{"--set-intensity", "0.4"}, false, "strength=0.400000\n", false, 0},
        {{"--set-intensity", "0.4"}, true, "strength=0.400000\n", true, 0.4},
    };
    for (const auto& [command, onTheDisplay, out, tinted, strength] : steps) {
        const auto result = run(command, onTheDisplay ? std::optional(name) : std::nullopt);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitStatus, 0);
        const auto ramps = testing::crtcRamps(name);
        ASSERT_EQ(ramps.size(), 2u);  // one CRTC per screen
        for (const auto& ramp : ramps) {
            const auto tint = WarmTint::ramp(ramp.size() / 3, tinted, strength);
            std::vector<unsigned short> expected = tint.red;
            expected.insert(expected.end(), tint.green.begin(), tint.green.end());
            expected.insert(expected.end(), tint.blue.begin(), tint.blue.end());
            EXPECT_EQ(ramp, expected) << command[0] << " " << onTheDisplay;
        }
    }
}

TEST_F(OnAServer, AServerThatNeverAnswersCostsAFractionOfASecond) {
    // Accepts connections (the kernel does) but never speaks X.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port) - 6000);

    // Stored, but the screen was not reached: said in one line, status 1.
    const std::pair<std::string, std::string> cases[] = {
        {silent, "vesperine: the X server does not answer\n"},
        {":65000", "vesperine: cannot connect to the X server\n"}};
    for (const auto& [display, message] : cases) {
        const auto start = std::chrono::steady_clock::now();
        const ProcessResult result = run({"--set-enabled", "1"}, display);
        EXPECT_EQ(result.out, "enabled=true\n") << display;
        EXPECT_EQ(result.err, message) << display;
        EXPECT_EQ(result.exitStatus, 1) << display;
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 1.0) << display;
    }
    close(listener);
}

}  // namespace
}  // namespace vesperine
