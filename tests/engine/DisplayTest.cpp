// The filter on a real X server: Xvfb with two screens, its CRTC gamma ramps
// read back through Xlib, which the program itself does not use.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>

#include "support/Subprocess.h"
#include "support/TempDir.h"

// Last: Xlib's macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace vesperine {
namespace {

using testing::ProcessResult;

// Xvfb on a display number it picks itself. -noreset keeps the ramps when the
// last client leaves: a real session always has its window manager.
class Xvfb {
  public:
    explicit Xvfb(std::vector<std::string> extra = {}) {
        int ready[2];
        if (pipe(ready) != 0) {
            return;
        }
        std::vector<std::string> arguments = {"Xvfb",     "-displayfd", std::to_string(ready[1]),
                                              "-noreset", "-nolisten",  "tcp",
                                              "-screen",  "0",          "640x480x24",
                                              "-screen",  "1",          "320x240x24"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            std::vector<char*> argv;
            for (auto& argument : arguments) {
                argv.push_back(argument.data());
            }
            argv.push_back(nullptr);
            freopen("/dev/null", "w", stderr);
            execvp("Xvfb", argv.data());
            _exit(127);
        }
        close(ready[1]);
        // Read up to the newline: Xvfb dies if the pipe closes before it has
        // written all of "<number>\n".
        readyFd_ = ready[0];
        std::string number;
        char c = 0;
        while (read(readyFd_, &c, 1) == 1 && c != '\n') {
            number += c;
        }
        if (!number.empty() && c == '\n') {
            name_ = ":" + number;
        }
    }
    ~Xvfb() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
        if (readyFd_ >= 0) {
            close(readyFd_);
        }
    }
    const std::string& name() const { return name_; }

  private:
    pid_t pid_ = -1;
    int readyFd_ = -1;
    std::string name_;
};

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
        options.environment = {{"XDG_CONFIG_HOME", home.file("config")},
                               {"XDG_STATE_HOME", home.file("state")},
                               {"XAUTHORITY", home.file("no-cookies")},
                               {"DISPLAY", std::move(display)}};
        options.timeoutSeconds = 20;
        arguments.insert(arguments.begin(), VESPERINE_EXECUTABLE);
        return runProcess(arguments, options);
    }
    void expectOk(const ProcessResult& result, const std::string& out) const {
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.exitStatus, 0);
    }

    testing::TempDir home;
};

TEST_F(OnAServer, TintsEveryCrtcChangesWithTheStrengthAndGivesTheColoursBack) {
    const Xvfb server;
    ASSERT_FALSE(server.name().empty());
    Display* display = XOpenDisplay(server.name().c_str());
    ASSERT_NE(display, nullptr) << server.name();

    expectOk(run({"--set-enabled", "0"}, server.name()), "enabled=false\n");
    const auto identity = rampsOfEveryCrtc(display);
    ASSERT_EQ(identity.size(), 2u);  // one CRTC per screen
    for (const auto& ramp : identity) {
        EXPECT_TRUE(isIdentity(ramp));
    }

    expectOk(run({"--set-enabled", "1"}, server.name()), "enabled=true\n");
    const auto warm = rampsOfEveryCrtc(display);
    for (const auto& ramp : warm) {
        EXPECT_EQ(ramp.red.back(), 65535);
        EXPECT_LT(ramp.green.back(), 0.95 * 65535);
        EXPECT_LT(ramp.blue.back(), 0.8 * ramp.red.back());
        EXPECT_LT(ramp.blue.back(), ramp.green.back());
    }
    expectOk(run({"--set-enabled", "1"}, server.name()), "enabled=true\n");
    EXPECT_EQ(rampsOfEveryCrtc(display)[1].blue, warm[1].blue);  // applies never stack

    expectOk(run({"--set-intensity", "0.9"}, server.name()), "strength=0.900000\n");
    const auto warmer = rampsOfEveryCrtc(display);
    for (std::size_t i = 0; i < warmer.size(); ++i) {
        EXPECT_LT(warmer[i].blue.back(), warm[i].blue.back() / 2);
        EXPECT_LT(warmer[i].green.back(), warm[i].green.back());
    }

    expectOk(run({"--set-enabled", "0"}, server.name()), "enabled=false\n");
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
    expectOk(run({"--set-intensity", "0.5"}, server.name()), "strength=0.500000\n");
    EXPECT_EQ(rampsOfEveryCrtc(display)[0].blue, warm[0].blue);
    XCloseDisplay(display);
}

TEST_F(OnAServer, ServersThatCannotBeTintedAreQuiet) {
    const std::string cookies = home.file("server-cookies");
    ASSERT_EQ(testing::runProcess({"xauth", "-q", "-f", cookies, "add", ":0", ".",
                                   "00112233445566778899aabbccddeeff"})
                  .exitStatus,
              0);
    const Xvfb withoutRandr({"-extension", "RANDR"});
    const Xvfb refusing({"-auth", cookies});  // our client has no cookie
    for (const auto* server : {&withoutRandr, &refusing}) {
        ASSERT_FALSE(server->name().empty());
        expectOk(run({"--set-enabled", "1"}, server->name()), "enabled=true\n");
        expectOk(run({"--set-intensity", "0.7"}, server->name()), "strength=0.700000\n");
        expectOk(run({"--set-enabled", "0"}, server->name()), "enabled=false\n");
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

    for (const std::string& display : {silent, std::string(":65000"), std::string("nonsense")}) {
        const auto start = std::chrono::steady_clock::now();
        expectOk(run({"--set-enabled", "1"}, display), "enabled=true\n");
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took.count(), 1.0) << display;
    }
    close(listener);
}

}  // namespace
}  // namespace vesperine
