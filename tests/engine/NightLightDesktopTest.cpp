// The filter through the executable on a real KWin, or mutter with gsd-color, read
// back from the desktop's own night light. Built once per desktop (VESPERINE_DESKTOP_KDE).

#include <gtest/gtest.h>

#include <signal.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>

#include "engine/DisplayBackends.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"

namespace vesperine::testing {
namespace {

struct NightLight {
    const char* service;
    const char* path;
    const char* interface;
    const char* active;
    const char* temperature;
    const char* userSetting;    // one of the user's own settings set up below
    const char* strongSetting;  // what a strength of 0.9 sets
};

// One suite name per desktop, so that the two builds' cases differ in CTest.
#if VESPERINE_DESKTOP_KDE
#define DESKTOP_SUITE KdeNightColor
const NightLight kDesktop = {
    "org.kde.KWin",       "/ColorCorrect",      "org.kde.kwin.ColorCorrect", "running",
    "currentTemperature", "LatitudeFixed=38.7", "NightTemperature=2360"};
#else
#define DESKTOP_SUITE GnomeNightLight
const char* const kSchema = "org.gnome.settings-daemon.plugins.color";
const NightLight kDesktop = {"org.gnome.SettingsDaemon.Color",
                             "/org/gnome/SettingsDaemon/Color",
                             "org.gnome.SettingsDaemon.Color",
                             "NightLightActive",
                             "Temperature",
                             "night-light-temperature uint32 3000",
                             "night-light-temperature uint32 2360"};
#endif

struct ScreenState {
    bool active = false;
    long kelvin = 0;
    // Within KWin's fade step: switched off mid-fade it may stop at 6450 K.
    bool operator==(const ScreenState& other) const {
        return active == other.active && std::abs(kelvin - other.kelvin) <= 50;
    }
};

class Desktop : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(session.startBus(true));
        // The user's own night-light settings, which must come back after off.
#if VESPERINE_DESKTOP_KDE
        // KWin rewrites it once at start-up; the test compares what it left.
        writeFile(home.file("config/kwinrc"),
                  "# kept\n[NightColor]\nActive=false\nLatitudeFixed=38.7\n\n"
                  "[NightColor][Sub]\nMode=Times\n[Plugins][$i]\nblurEnabled=false\n");
        ASSERT_TRUE(session.startKWin()) << readFile(home.file("kwin.err"));
#else
        session.run({"gsettings", "set", kSchema, "night-light-temperature", "3000"});
        session.run({"gsettings", "set", kSchema, "night-light-schedule-from", "21.5"});
        ASSERT_TRUE(session.startGnome()) << readFile(home.file("gsd-color.err"));
#endif
        // This process's environment becomes the session's, for the program
        // and for backends made here.
        for (const auto& [name, value] : session.environment()) {
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
        }
    }

    std::string userSettings() {
#if VESPERINE_DESKTOP_KDE
        return readFile(home.file("config/kwinrc"));
#else
        return session.run({"gsettings", "list-recursively", kSchema});
#endif
    }

    ScreenState screen() {
        const auto read = [&](const char* name) {
            return session.property(kDesktop.service, kDesktop.path, kDesktop.interface, name);
        };
        const std::string temperature = read(kDesktop.temperature);
        const auto number = temperature.find(' ');  // "(<uint32 4200>,)"
        return {read(kDesktop.active) == "(<true>,)\n",
                number == std::string::npos ? -1 : std::atol(temperature.c_str() + number)};
    }

    // The desktops fade to a new temperature over 2 (KWin) to 5 (GNOME) s.
    bool settlesAt(const ScreenState& expected) {
        return waitUntil([&] { return screen() == expected; }, 15);
    }

    pid_t nightLightProcess() {
        const std::string owner =
            session.run({"gdbus", "call", "--session", "--dest", "org.freedesktop.DBus",
                         "--object-path", "/org/freedesktop/DBus", "--method",
                         "org.freedesktop.DBus.GetConnectionUnixProcessID", kDesktop.service});
        return std::atoi(owner.c_str() + owner.find(' '));  // "(uint32 1234,)"
    }

    TempDir home;
    DesktopSession session{home};
};

using DESKTOP_SUITE = Desktop;

// On, stronger, off; then 20 commands from two processes at once; then off.
TEST_F(DESKTOP_SUITE, FollowsEveryCommandAndGivesTheUserSettingsBack) {
    const std::string before = userSettings();
    ASSERT_NE(before.find(kDesktop.userSetting), std::string::npos) << before;
    const struct {
        std::vector<std::string> arguments;
        std::string out;
        ScreenState expected;
    } steps[] = {
        {{"--set-enabled", "1"}, "enabled=true\n", {true, 4200}},
        {{"--set-intensity", "0.9"}, "strength=0.900000\n", {true, 2360}},
        {{"--set-enabled", "0"}, "enabled=false\n", {false, 6500}},
    };
    for (const auto& step : steps) {
        EXPECT_EQ(runVesperine(step.arguments), (ProcessResult{step.out, "", 0}));
        EXPECT_TRUE(settlesAt(step.expected)) << step.arguments[0];
    }

    // Commands from two processes at once: the screen shows the state `--get` prints.
    EXPECT_EQ(testing::runConflictingCommands([](const auto& a) { return runVesperine(a); }), "");
    const std::string get = runVesperine({"--get"}).out;
    const bool on = get.find("enabled=true") != std::string::npos;
    const double strength = std::stod(get.substr(get.find("strength=") + 9));
    EXPECT_TRUE(settlesAt({on, on ? std::lround(6500 - 4600 * strength) : 6500})) << get;
    ASSERT_EQ(runVesperine({"--set-enabled", "0"}).exitStatus, 0);
    EXPECT_EQ(userSettings(), before);
    const std::string saved =
        home.file(VESPERINE_DESKTOP_KDE ? "state/vesperine/kde-night-color.saved"
                                        : "state/vesperine/gnome-night-light.saved");
    EXPECT_FALSE(fileExists(saved));

    // A saved copy that cannot be read is kept, and nothing is restored from it.
    ASSERT_EQ(runVesperine({"--set-enabled", "1"}).exitStatus, 0);
    std::filesystem::remove(saved);
    std::filesystem::create_directory(saved);
    const auto off = runVesperine({"--set-enabled", "0"});
    EXPECT_EQ(off.exitStatus, 1);
    EXPECT_EQ(off.err, "vesperine: cannot read " + saved + ": not a small regular file\n");
    EXPECT_TRUE(std::filesystem::is_directory(saved));
}

// A drag's previews are handed over without waiting for the desktop: with its
// daemon stopped, a preview still lands in the settings, where an apply says
// the screen cannot be reached; the desktop follows once it runs again.
TEST_F(DESKTOP_SUITE, PreviewsNeverWaitForTheDesktop) {
    ASSERT_EQ(runVesperine({"--set-enabled", "1"}).exitStatus, 0);
    auto display = VESPERINE_DESKTOP_KDE ? makeKWinNightColor() : makeGnomeNightLight();
    ASSERT_TRUE(display);
    const pid_t daemon = nightLightProcess();
    ASSERT_GT(daemon, 0);
    kill(daemon, SIGSTOP);
    const DisplayOutcome preview = display->preview(0.9);
    const bool landed = waitUntil(
        [&] { return userSettings().find(kDesktop.strongSetting) != std::string::npos; }, 5);
    const DisplayOutcome apply = display->apply(true, 0.9);
    kill(daemon, SIGCONT);
    EXPECT_FALSE(preview.failedToReach()) << preview.reason;
    EXPECT_TRUE(landed);
    EXPECT_TRUE(apply.failedToReach());
    EXPECT_TRUE(settlesAt({true, 2360}));
}

#if !VESPERINE_DESKTOP_KDE  // KWin is the compositor itself
// The colour daemon gone when the screen is first asked and back later (a
// restart, or a tray that started first) is found; the session is not taken
// for one without a way to the screen for good.
TEST_F(DESKTOP_SUITE, ADaemonThatComesBackIsFound) {
    kill(nightLightProcess(), SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return screen().kelvin < 0; }, 10));
    const auto display = makeSessionDisplay();
    EXPECT_TRUE(display->apply(true, 0.5).failedToReach());
    const auto again = session.start({"/usr/libexec/gsd-color"}, "gsd-color-again");
    ASSERT_TRUE(waitUntil([&] { return screen().kelvin > 0; }, 30));
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_FALSE(display->apply(true, 0.5).failedToReach());
    EXPECT_TRUE(settlesAt({true, 4200}));
}
#endif

}  // namespace
}  // namespace vesperine::testing
