#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "cli/CommandLine.h"
#include "engine/ColorFilterState.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "support/Time.h"

namespace vesperine {
namespace {

using Arguments = std::vector<std::string>;

class RecordingInterface final : public CLI::InterfaceCommands {
  public:
    int runSelfTest() override {
        ++selfTests;
        return 0;
    }
    int renderPanel(const std::string& directory) override {
        renderedInto.push_back(directory);
        return 0;
    }
    int selfTests = 0;
    std::vector<std::string> renderedInto;
};

struct RunResult {
    std::optional<int> status;
    std::string out;
    std::string err;
};

// The dispatcher over in-memory stores, a fixed clock and UTC.
class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    RunResult run(Arguments arguments) {
        arguments.insert(arguments.begin(), "vesperine");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        CLI::CommandContext context{out,
                                    err,
                                    clock,
                                    [this]() -> ColorFilterState& {
                                        ++storesOpened;
                                        return filter;
                                    },
                                    [this]() -> Settings& {
                                        ++storesOpened;
                                        return settings;
                                    },
                                    interface};
        RunResult result;
        result.status = CLI::run(arguments, context);
        result.out = testing::drainAndClose(out);
        result.err = testing::drainAndClose(err);
        return result;
    }

    testing::FixedClock clock{testing::utc("2024-06-21T12:00:00Z")};
    InMemoryStore filterStore;
    InMemoryStore settingsStore;
    testing::RecordingDisplay display;
    ColorFilterState filter{filterStore, display};
    Settings settings{settingsStore};
    RecordingInterface interface;
    int storesOpened = 0;
};

const std::string kHelp = std::string(CLI::helpText) + "\n";
const std::string kNoon = "now: 2024-06-21 12:00:00 Z\n";

// What no command, help and an unknown word do; nothing opens a store.
TEST_F(Dispatch, ApplicationHelpAndUnknownCommands) {
    const struct {
        Arguments arguments;
        std::optional<int> status;
        std::string out, err;
    } cases[] = {
        {{}, std::nullopt, "", ""},
        // A first argument that is no option starts the application.
        {{"-x", "--get"}, std::nullopt, "", ""},
        {{"-help"}, std::nullopt, "", ""},
        {{"--help"}, 0, kHelp, ""},
        {{"-h"}, 0, kHelp, ""},
    };
    for (const auto& c : cases) {
        const auto result = run(c.arguments);
        EXPECT_EQ(result.status, c.status) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result.out, c.out) << ::testing::PrintToString(c.arguments);
        EXPECT_EQ(result.err, c.err);
    }
    for (const char* command : {"--HELP", "--Get", "--", "--lat", "--engine", "---get"}) {
        const auto result = run({command, "--lat", "1"});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_EQ(result.err, std::string("unknown command: ") + command + "\n");
        EXPECT_EQ(result.out, kHelp);
    }
    EXPECT_EQ(storesOpened, 0);
}

TEST_F(Dispatch, DecidePrintsSunTimesAndTheDecisionWithoutOpeningAStore) {
    const std::string lisbonNoon = kNoon +
                                   "sunrise: 2024-06-21 05:12:00 Z\n"
                                   "sunset: 2024-06-21 20:34:43 Z\n"
                                   "decision: between sunrise and sunset \xe2\x80\x94 light -> "
                                   "want OFF\n";
    const std::pair<Arguments, std::string> cases[] = {
        {{"--lat", "38.7223", "--lon", "-9.1393", "--ss-off", "30"}, lisbonNoon},
        // Offsets that are no number count as zero; --decide ignores --apply.
        {{"--lat", "38.7223", "--lon", "-9.1393", "--sr-off", "abc", "--ss-off", "30", "--apply"},
         lisbonNoon},
        {{"--lat", "69.6492", "--lon", "18.9553"},
         kNoon + "sun never sets today (polar day)\n"
                 "decision: polar day (sun never sets) \xe2\x80\x94 treating as light -> want "
                 "OFF\n"},
        {{"--lat", "-69.6492", "--lon", "18.9553"},
         kNoon + "sun never rises today (polar night)\n"
                 "decision: polar night (sun never rises) \xe2\x80\x94 treating as dark -> want "
                 "ON\n"},
        {{"--lat", "nan", "--lon", "0"},
         kNoon + "sunrise: \xe2\x80\x94\nsunset: \xe2\x80\x94\n"
                 "decision: after sunset \xe2\x80\x94 dark -> want ON\n"},
    };
    for (auto [arguments, out] : cases) {
        arguments.insert(arguments.begin(), "--decide");
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, out);
        EXPECT_EQ(result.err, "");
    }
    EXPECT_EQ(storesOpened, 0);
}

TEST_F(Dispatch, MissingOrUnparsableCoordinatesAreUsageErrors) {
    const std::vector<Arguments> cases = {
        {},
        {"--lat", "38"},
        {"--lon", "-9"},
        {"--lat", "--lon", "5"},
        {"--lat", "38", "--lon", "west"},
        {"--lat", " 38", "--lon", "-9"},
        {"38", "-9"},
    };
    for (const char* command : {"--decide", "--reconcile"}) {
        for (auto arguments : cases) {
            arguments.insert(arguments.begin(), command);
            arguments.push_back("--apply");
            const auto result = run(arguments);
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, std::string(command) + " needs --lat <deg> --lon <deg>\n");
        }
    }
    EXPECT_EQ(storesOpened, 0);
}

// Without --apply it is --decide. With it (whatever its value), and for the
// engine's pass, the live state changes only when it differs from the decision,
// and is put on screen either way (a restarted session may show nothing);
// what does not reach the screen is status 1 and one line.
TEST_F(Dispatch, ReconcileChangesOnlyWhatDiffersAndSaysWhenTheScreenIsNotReached) {
    const Arguments decide = {"--decide", "--lat", "38.7", "--lon", "-9.1"};
    const Arguments apply = {"--reconcile", "--lat", "38.7", "--lon", "-9.1", "--apply", "0"};
    EXPECT_EQ(run({"--reconcile", "--lat", "38.7", "--lon", "-9.1"}).out, run(decide).out);
    EXPECT_EQ(storesOpened, 0);
    settings.setAutomationEnabled(true);
    settings.setLatitude(38.7);  // noon in Lisbon: want OFF
    settings.setLongitude(-9.1);
    const std::tuple<Arguments, bool, std::string> cases[] = {
        {apply, true, "applied: ON -> OFF (changed)\n"},
        {apply, false, "applied: already OFF (no change)\n"},
        {{"--engine-reconcile"}, true, "engine-reconcile: changed=true (ON -> OFF)\n"},
        {{"--engine-reconcile"}, false, "engine-reconcile: changed=false (OFF -> OFF)\n"}};
    for (const auto& [arguments, before, last] : cases) {
        filter.setEnabled(before);
        display.applies.clear();
        display.outcome = DisplayOutcome::failed("the X server\ndoes not answer");
        const auto failed = run(arguments);
        EXPECT_TRUE(failed.out.ends_with(last)) << failed.out;
        EXPECT_EQ(failed.status, 1) << last;
        EXPECT_EQ(failed.err, "vesperine: the X server?does not answer\n");
        EXPECT_EQ(display.applies.size(), 1u) << last;
        EXPECT_FALSE(filter.enabled() || display.applies.back().first) << last;
        display.outcome = DisplayOutcome::reachedScreen();
        EXPECT_EQ(run(arguments).status, 0) << last;
    }
}

TEST_F(Dispatch, DevelopmentCommandsGoToTheInterfaceModule) {
    EXPECT_EQ(run({"--selftest", "--extra"}).status, 0);
    EXPECT_EQ(interface.selfTests, 1);

    // The default folder and a lone folder are run through the executable.
    run({"--render-panel", "--dir", "out2", "ignored"});
    run({"--render-panel", "first", "second"});
    EXPECT_EQ(interface.renderedInto, (std::vector<std::string>{"out2", "first"}));
    EXPECT_EQ(storesOpened, 0);
}

}  // namespace
}  // namespace vesperine
