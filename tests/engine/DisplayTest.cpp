// The filter on a real X server: Xvfb with two screens, its CRTC gamma ramps
// read back through Xlib, which the program itself does not use.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <thread>

#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"

// Last: Xlib's macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace vesperine {
namespace {

using testing::ProcessResult;

// Xvfb with two screens on a display number it picks itself. -noreset keeps
// the ramps when the last client leaves: a real session always has its
// window manager. "" when it did not start.
std::string startXvfb(const testing::TempDir& home,
                      std::unique_ptr<testing::BackgroundProcess>& process) {
    const std::string out = home.file("xvfb.out");
    process = std::make_unique<testing::BackgroundProcess>(
        std::vector<std::string>{"Xvfb", "-displayfd", "1", "-noreset", "-nolisten", "tcp",
                                 "-screen", "0", "640x480x24", "-screen", "1", "320x240x24"},
        std::map<std::string, std::optional<std::string>>{}, out, home.file("xvfb.err"));
    if (!testing::waitUntil([&] { return testing::readFile(out).find('\n') != std::string::npos; },
                            20)) {
        return "";
    }
    const std::string number = testing::readFile(out);
    return ":" + number.substr(0, number.find('\n'));
}

struct Ramp {
    std::vector<unsigned short> red, green, blue;
};

std::vector<Ramp> rampsOfEveryCrtc(Display* display) {
    std::vector<Ramp> ramps;
    for (int screen = 0; screen < ScreenCount(display); ++screen) {
        XRRScreenResources* resources =
            XRRGetScreenResourcesCurrent(display, RootWindow(display, screen));
        for (int i = 0; resources != nullptr && i < resources->ncrtc; ++i) {
            XRRCrtcGamma* gamma = XRRGetCrtcGamma(display, resources->crtcs[i]);
            ramps.push_back({{gamma->red, gamma->red + gamma->size},
                             {gamma->green, gamma->green + gamma->size},
                             {gamma->blue, gamma->blue + gamma->size}});
            XRRFreeGamma(gamma);
        }
        XRRFreeScreenResources(resources);
    }
    return ramps;
}

bool isIdentity(const Ramp& ramp) {
    const std::size_t n = ramp.red.size();
    for (std::size_t i = 0; i < n; ++i) {
        const auto expected = std::lround(static_cast<double>(i) * 65535.0 / (n - 1));
        if (ramp.red[i] != expected || ramp.green[i] != expected || ramp.blue[i] != expected) {
            return false;
        }
    }
    return n > 1;
}

class OnAServer : public ::testing::Test {
  protected:
    ProcessResult run(std::vector<std::string> arguments,
                      std::optional<std::string> display) const {
        testing::ProcessOptions options;
        options.environment = testing::sessionEnvironment(home, display, "unix:path=/none");
        options.environment["XAUTHORITY"] = home.file("no-cookies");
        options.timeoutSeconds = 20;
        return testing::runVesperine(arguments, options);
    }
    void expectOk(const ProcessResult& result, const std::string& out) const {
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitStatus, 0);
    }

    testing::TempDir home;
};

TEST_F(OnAServer, TintsEveryCrtcChangesWithTheStrengthAndGivesTheColoursBack) {
    std::unique_ptr<testing::BackgroundProcess> xvfb;
    const std::string name = startXvfb(home, xvfb);
    ASSERT_FALSE(name.empty());
    Display* display = XOpenDisplay(name.c_str());
    ASSERT_NE(display, nullptr) << name;

    expectOk(run({"--set-enabled", "0"}, name), "enabled=false\n");
    const auto identity = rampsOfEveryCrtc(display);
    ASSERT_EQ(identity.size(), 2u);  // one CRTC per screen
    for (const auto& ramp : identity) {
        EXPECT_TRUE(isIdentity(ramp));
    }

    expectOk(run({"--set-enabled", "1"}, name), "enabled=true\n");
    const auto warm = rampsOfEveryCrtc(display);
    for (const auto& ramp : warm) {
        EXPECT_EQ(ramp.red.back(), 65535);
        EXPECT_LT(ramp.green.back(), 0.95 * 65535);
        EXPECT_LT(ramp.blue.back(), 0.8 * ramp.red.back());
        EXPECT_LT(ramp.blue.back(), ramp.green.back());
    }

    expectOk(run({"--set-intensity", "0.9"}, name), "strength=0.900000\n");
    const auto warmer = rampsOfEveryCrtc(display);
    for (std::size_t i = 0; i < warmer.size(); ++i) {
        EXPECT_LT(warmer[i].blue.back(), warm[i].blue.back() / 2);
        EXPECT_LT(warmer[i].green.back(), warm[i].green.back());
    }

    expectOk(run({"--set-enabled", "0"}, name), "enabled=false\n");
    for (const auto& ramp : rampsOfEveryCrtc(display)) {
        EXPECT_TRUE(isIdentity(ramp));
    }

    // Without a display only the file changes; it reaches the screen with
    // the next apply that can draw.
    expectOk(run({"--set-enabled", "1"}, std::nullopt), "enabled=true\n");
    expectOk(run({"--set-intensity", "0.5"}, std::nullopt), "strength=0.500000\n");
    for (const auto& ramp : rampsOfEveryCrtc(display)) {
        EXPECT_TRUE(isIdentity(ramp));
    }
    expectOk(run({"--get"}, std::nullopt), "enabled=true\ntype=1\nstrength=0.500000\n");
    expectOk(run({"--set-intensity", "0.5"}, name), "strength=0.500000\n");
    EXPECT_EQ(rampsOfEveryCrtc(display)[0].blue, warm[0].blue);
    XCloseDisplay(display);
}

// Two processes switching and strengthening at once: whichever wrote last, the
// ramps are what the stored state asks for (a fresh apply changes nothing).
TEST_F(OnAServer, ConcurrentCommandsLeaveTheRampsAsTheStateSays) {
    std::unique_ptr<testing::BackgroundProcess> xvfb;
    const std::string name = startXvfb(home, xvfb);
    ASSERT_FALSE(name.empty());
    Display* display = XOpenDisplay(name.c_str());
    ASSERT_NE(display, nullptr) << name;
    for (int round = 0; round < 10; ++round) {
        // Each process alternates switching and strengthening, the other way round.
        auto alternate = [&](const char* on, const char* strength) {
            for (int i = 0; i < 10; ++i) {
                const std::vector<std::string> command =
                    i % 2 ? std::vector<std::string>{"--set-intensity", strength}
                          : std::vector<std::string>{"--set-enabled", on};
                EXPECT_EQ(run(command, name).exitStatus, 0);
            }
        };
        std::thread first(alternate, "1", "0.3");
        std::thread second(alternate, "0", "0.8");
        first.join();
        second.join();
        const auto after = rampsOfEveryCrtc(display);
        const std::string state = run({"--get"}, name).out;
        EXPECT_EQ(isIdentity(after[0]), state.find("enabled=false") != std::string::npos) << state;
        const std::string strength = state.substr(state.find("strength=") + 9, 8);
        expectOk(run({"--set-intensity", strength}, name), "strength=" + strength + "\n");
        EXPECT_EQ(rampsOfEveryCrtc(display)[0].blue, after[0].blue) << "round " << round << state;
    }
    XCloseDisplay(display);
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
        {":65000", "vesperine: cannot connect to the X server\n"},
        {"nonsense", "vesperine: cannot connect to the X server\n"}};
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
