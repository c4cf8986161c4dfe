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

TEST(OnAServer, TintsEveryCrtcFollowsTheStrengthAndSaysWhenAServerIsNotReached) {
    testing::TempDir home;
    // Two screens. -noreset keeps the ramps when the last client leaves: a
    // real session always has its window manager.
    testing::DesktopSession session(home);
    ASSERT_TRUE(session.startXServer(
        {"-noreset", "-screen", "0", "640x480x24", "-screen", "1", "320x240x24"}));
    const std::string x = session.display();
    // A server that accepts connections (the kernel does) but never speaks X.
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);
    getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    const std::string silent = "127.0.0.1:" + std::to_string(ntohs(address.sin_port) - 6000);

    // Without a display, or on one not reached, only the file changes: said in
    // one line and status 1 within a second; the next apply that can draw
    // brings it to the screen.
    const std::vector<std::string> weaker = {"--set-intensity", "0.4"};
    const std::tuple<std::vector<std::string>, std::optional<std::string>, std::string, double>
        steps[] = {
            // command, its display, its error, the tint then on x (0: none)
            {{"--set-enabled", "1"}, x, "", 0.5},
            {{"--set-enabled", "0"}, x, "", 0},
            {{"--set-enabled", "1"}, std::nullopt, "", 0},
            {weaker, silent, "vesperine: the X server does not answer\n", 0},
            {weaker, ":65000", "vesperine: cannot connect to the X server\n", 0},
            {weaker, x, "", 0.4},
        };
    for (const auto& [command, display, err, strength] : steps) {
        testing::ProcessOptions options;
        options.environment = testing::sessionEnvironment(home, display, "unix:path=/none");
        options.timeoutSeconds = 20;
        const auto start = std::chrono::steady_clock::now();
        const auto result = testing::runVesperine(command, options);
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        const std::string step = command[0] + " on " + display.value_or("no display");
        EXPECT_EQ(result.err, err) << step;
        EXPECT_EQ(result.exitStatus, err.empty() ? 0 : 1) << step;
        EXPECT_TRUE(err.empty() || took.count() < 1.0) << step << ": " << took.count() << " s";
        const auto ramps = testing::crtcRamps(x);
        ASSERT_EQ(ramps.size(), 2u);  // one CRTC per screen
        for (const auto& ramp : ramps) {
            const auto tint = WarmTint::ramp(ramp.size() / 3, strength > 0, strength);
            std::vector<unsigned short> expected = tint.red;
            expected.insert(expected.end(), tint.green.begin(), tint.green.end());
            expected.insert(expected.end(), tint.blue.begin(), tint.blue.end());
            EXPECT_EQ(ramp, expected) << step;
        }
    }
    close(listener);
}

}  // namespace
}  // namespace vesperine
