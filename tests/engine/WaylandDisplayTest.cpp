// The filter on a wlroots compositor: the test compositor records the ramps
// every output received; the program runs as it would in the session.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/WarmTint.h"
#include "engine/WaylandGammaHolder.h"
#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/WaylandCompositor.h"

namespace vesperine {
namespace {

using testing::ProcessResult;
using testing::WaylandCompositor;

constexpr const char* kSocket = "wayland-test";

std::vector<std::uint16_t> tint(unsigned size, double strength) {
    const WarmTint::GammaRamp ramp = WarmTint::ramp(size, true, strength);
    std::vector<std::uint16_t> table = ramp.red;
    table.insert(table.end(), ramp.green.begin(), ramp.green.end());
    table.insert(table.end(), ramp.blue.begin(), ramp.blue.end());
    return table;
}

class OnACompositor : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(mkdir(runtime().c_str(), 0700), 0); }
    void TearDown() override {
        compositor_.reset();  // the holder, if any, ends with its connection
        ASSERT_TRUE(testing::waitUntil([&] { return !holderRunning(); }, 5));
    }

    std::string runtime() const { return home.file("run"); }
    WaylandCompositor& start(const std::vector<unsigned>& sizes) {
        compositor_.reset();  // one at a time on the socket
        compositor_ = std::make_unique<WaylandCompositor>(runtime(), kSocket, sizes);
        EXPECT_TRUE(compositor_->started());
        return *compositor_;
    }
    ProcessResult run(std::vector<std::string> arguments,
                      std::optional<std::string> display = std::nullopt,
                      const std::string& wayland = kSocket) const {
        testing::ProcessOptions options;
        options.environment = testing::sessionEnvironment(home, display, "unix:path=/none");
        options.environment["XDG_RUNTIME_DIR"] = runtime();
        options.environment["WAYLAND_DISPLAY"] = wayland;
        options.timeoutSeconds = 20;
        return testing::runVesperine(arguments, options);
    }
    void expectRun(const std::vector<std::string>& arguments, const std::string& out,
                   const std::string& err = "", std::optional<std::string> display = {}) const {
        const ProcessResult result = run(arguments, display);
        EXPECT_EQ(result.out, out) << arguments[0];
        EXPECT_EQ(result.err, err) << arguments[0];
        EXPECT_EQ(result.exitStatus, err.empty() ? 0 : 1) << arguments[0];
    }
    std::string lockFile() const { return runtime() + "/vesperine-" + kSocket + ".lock"; }
    // Some process holds the lock of the session's holder.
    bool holderRunning() const { return testing::lockHeld(lockFile()); }
    // Every output shows `strength`'s tint, or every output its own ramps.
    void expectScreen(bool enabled, double strength) {
        for (const auto& output : compositor_->outputs()) {
            EXPECT_EQ(output.held, enabled) << output.gammaSize;
            EXPECT_EQ(output.ramp,
                      enabled ? tint(output.gammaSize, strength) : std::vector<std::uint16_t>{})
                << output.gammaSize;
        }
    }

    testing::TempDir home;
    std::unique_ptr<WaylandCompositor> compositor_;
};

TEST_F(OnACompositor, TintsEveryOutputKeepsItFollowsTheStrengthAndNewOutputsAndGivesItBack) {
    WaylandCompositor& compositor = start({256, 1024});
    const std::tuple<std::vector<std::string>, std::string, bool, double> steps[] = {
        {{"--set-enabled", "1"}, "enabled=true\n", true, 0.5},
        {{"--set-intensity", "0.9"}, "strength=0.900000\n", true, 0.9},
        {{"--set-enabled", "0"}, "enabled=false\n", false, 0},
        {{"--set-enabled", "0"}, "enabled=false\n", false, 0},
        {{"--set-enabled", "1"}, "enabled=true\n", true, 0.9}};
    for (const auto& [command, out, enabled, strength] : steps) {
        expectRun(command, out);
        expectScreen(enabled, strength);
        // A holder lets go of the outputs before it answers, and ends after.
        EXPECT_TRUE(testing::waitUntil([&] { return holderRunning() == enabled; }, 2));
    }
    // An output that comes while the new holder starts is tinted too.
    compositor.addOutput(512);
    EXPECT_TRUE(
        testing::waitUntil([&] { return compositor.outputs()[2].ramp == tint(512, 0.9); }, 2));
    expectScreen(true, 0.9);
    EXPECT_EQ(compositor.outputs()[0].rampsReceived, 3);  // one per change, none stacked
    // The compositor named by its socket's path is the same session.
    EXPECT_EQ(run({"--set-intensity", "0.9"}, std::nullopt, runtime() + "/" + kSocket).err, "");

    // Commands from two processes at once: the screen ends as the stored state says.
    EXPECT_EQ(testing::runConflictingCommands([&](const auto& a) { return run(a); }), "");
    const std::string state = run({"--get"}).out;
    expectScreen(true, std::stod(state.substr(state.find("strength=") + 9)));
}

// The holder started by a process of several threads, as the tray application
// is (they rule out fork() without exec); then that holder killed or stopped,
// and the compositor gone.
TEST_F(OnACompositor, AThreadedProcessStartsAHolderAndItsDeathOrStopIsSaidInOneLine) {
    WaylandCompositor& compositor = start({256, 1024});
    {
        std::promise<void> done;
        std::thread other([ended = done.get_future()] { ended.wait(); });
        setenv("XDG_RUNTIME_DIR", runtime().c_str(), 1);
        setenv("XDG_STATE_HOME", home.file("state").c_str(), 1);
        const auto display = WaylandGammaHolder::makeClient(kSocket, VESPERINE_EXECUTABLE);
        KeyFileStore store(home.file("state/vesperine/color-filter.ini"), "ColorFilter");
        ColorFilterState filter(store, *display);
        EXPECT_TRUE(filter.setEnabled(true).succeeded());
        expectScreen(true, 0.5);
        // A drag's preview shows its strength before the store has it.
        EXPECT_FALSE(display->preview(0.3).failedToReach());
        expectScreen(true, 0.3);
        done.set_value();
        other.join();
    }
    const auto holder = [&] { return std::stoi(testing::readFile(lockFile())); };

    // Killed: its socket is left behind; the next command starts another.
    kill(holder(), SIGKILL);
    ASSERT_TRUE(testing::waitUntil([&] { return !holderRunning(); }, 5));
    EXPECT_EQ(run({"--set-intensity", "0.6"}).exitStatus, 0);
    expectScreen(true, 0.6);

    // Stopped: the command gives up after its patience.
    const pid_t stopped = holder();
    kill(stopped, SIGSTOP);
    expectRun({"--set-intensity", "0.7"}, "strength=0.700000\n",
              "vesperine: the holder of the Wayland outputs does not answer\n");
    kill(stopped, SIGCONT);
    EXPECT_TRUE(
        testing::waitUntil([&] { return compositor.outputs()[0].ramp == tint(256, 0.7); }, 5));

    compositor.stop();
    ASSERT_TRUE(testing::waitUntil([&] { return !holderRunning(); }, 5));
    expectRun({"--set-enabled", "0"}, "enabled=false\n",
              "vesperine: cannot connect to the Wayland compositor wayland-test\n");
}

// Under XWayland the compositor is used and the X server's ramps are never
// touched, even when the compositor refuses; a refusal is said in one line.
TEST_F(OnACompositor, RefusalsAreSaidAndUnderXWaylandTheXRampsAreNeverTouched) {
    testing::DesktopSession x11(home);
    ASSERT_TRUE(x11.startDisplay()) << x11.displayFailure();
    const auto before = testing::crtcRamps(x11.display());
    ASSERT_FALSE(before.empty());
    // Another program holds the second output; then no gamma control at all.
    for (const bool gammaControl : {true, false}) {
        WaylandCompositor& compositor =
            start(gammaControl ? std::vector<unsigned>{256, 256} : std::vector<unsigned>{});
        const std::string err =
            gammaControl ? "vesperine: the Wayland compositor refused the colour ramps of 1 of 2 "
                           "outputs (another program holds them, or they have no gamma)\n"
                         : "vesperine: this Wayland compositor offers no way to change the "
                           "screen's colours\n";
        if (gammaControl) {
            compositor.makeBusy(1);
        }
        expectRun({"--set-enabled", "1"}, "enabled=true\n", err, x11.display());
        EXPECT_EQ(testing::crtcRamps(x11.display()), before) << gammaControl;
        if (gammaControl) {  // the other output is not fought for
            const auto outputs = compositor.outputs();
            EXPECT_EQ(outputs[0].ramp, tint(256, 0.5));
            EXPECT_FALSE(outputs[1].held);
            EXPECT_EQ(outputs[1].rampsReceived, 0);
        }
        EXPECT_EQ(run({"--set-enabled", "0"}, x11.display()).exitStatus, gammaControl ? 0 : 1);
        expectScreen(false, 0);
    }
}

// Real sway refuses to run as root: as root, it and the program run as
// nobody. Its headless outputs have no gamma.
TEST(OnSway, AnOutputWithoutGammaIsSaidInOneLineAndNothingHangs) {
    const bool root = geteuid() == 0;
    testing::TempDir home;  // the user's home and runtime folder
    ASSERT_EQ(chown(home.path().c_str(), root ? 65534 : geteuid(), root ? 65534 : getegid()), 0);
    const auto asUser = [&](std::vector<std::string> argv) {
        if (root) {
            argv.insert(argv.begin(),
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        return argv;
    };
    testing::ProcessOptions options;
    options.environment = testing::sessionEnvironment(home, std::nullopt, "unix:path=/none");
    options.environment["WLR_BACKENDS"] = "headless";
    options.environment["WLR_LIBINPUT_NO_DEVICES"] = "1";
    options.environment["WLR_RENDERER"] = "pixman";
    options.timeoutSeconds = 20;
    const std::string logs = home.file("sway");
    testing::BackgroundProcess sway(asUser({"sway", "-c", "/dev/null"}), options.environment,
                                    logs + ".out", logs + ".err");
    options.environment["WAYLAND_DISPLAY"] = "wayland-1";  // the first socket libwayland picks
    // Its output comes some time after its socket.
    ASSERT_TRUE(testing::waitUntil(
        [&] {
            return testing::runProcess(asUser({"wayland-info"}), options).out.find("'wl_output'") !=
                   std::string::npos;
        },
        20))
        << testing::readFile(logs + ".err");

    const std::string refused =
        "vesperine: the Wayland compositor refused the colour ramps of 1 of 1 output (another "
        "program holds them, or they have no gamma)\n";
    const std::tuple<std::string, std::string, std::string, int> cases[] = {
        {"--set-enabled", "1", refused, 1}, {"--set-enabled", "0", "", 0}};
    for (const auto& [option, value, err, status] : cases) {
        const auto result =
            testing::runProcess(asUser({VESPERINE_EXECUTABLE, option, value}), options);
        EXPECT_EQ(result.err, err) << option;
        EXPECT_EQ(result.exitStatus, status) << option;
    }
    EXPECT_TRUE(sway.running());
}

}  // namespace
}  // namespace vesperine
