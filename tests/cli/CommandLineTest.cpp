#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "cli/CommandLine.h"
#include "cli/Options.h"
#include "engine/NumberText.h"
#include "support/Fakes.h"
#include "support/Subprocess.h"
#include "support/Time.h"

namespace vesperine {
namespace {

using Arguments = std::vector<std::string>;
using testing::ProcessResult;
using testing::utc;

struct MockInterface : CLI::InterfaceCommands {
    MOCK_METHOD(int, runSelfTest, (), (override));
    MOCK_METHOD(int, renderPanel, (const std::string&), (override));
};

// The dispatcher over in-memory stores, a fixed clock and UTC; its status is
// -1 where the application would start.
class Dispatch : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC0", 1);
        tzset();
    }

    ProcessResult run(Arguments arguments) {
        arguments.insert(arguments.begin(), "vesperine");
        char *out = nullptr, *err = nullptr;
        std::size_t outSize = 0, errSize = 0;
        std::FILE* outStream = open_memstream(&out, &outSize);
        std::FILE* errStream = open_memstream(&err, &errSize);
        const auto open = [this](auto& store) -> auto& {
            ++storesOpened;
            return store;
        };
        CLI::CommandContext context{outStream,
                                    errStream,
                                    clock,
                                    [&]() -> ColorFilterState& { return open(filter); },
                                    [&]() -> Settings& { return open(settings); },
                                    interface};
        const int status = CLI::run(arguments, context).value_or(-1);
        std::fclose(outStream);
        std::fclose(errStream);
        ProcessResult result{{out, outSize}, {err, errSize}, status};
        std::free(out);
        std::free(err);
        return result;
    }

    testing::FixedClock clock{utc("2024-06-21T12:00:00Z")};
    InMemoryStore filterStore;
    InMemoryStore settingsStore;
    testing::RecordingDisplay display;
    ColorFilterState filter{filterStore, display};
    Settings settings{settingsStore};
    ::testing::StrictMock<MockInterface> interface;
    int storesOpened = 0;
};

const std::string kHelp = std::string(CLI::helpText) + "\n";
const std::string kNoon = "now: 2024-06-21 12:00:00 Z\n";

// What no command, help, the development commands and an unknown word do;
// nothing opens a store.
TEST_F(Dispatch, ApplicationHelpDevelopmentAndUnknownCommands) {
    EXPECT_CALL(interface, runSelfTest());
    EXPECT_CALL(interface, renderPanel("out2"));
    EXPECT_CALL(interface, renderPanel("first"));
    const ProcessResult application{"", "", -1}, done{"", "", 0}, help{kHelp, "", 0};
    const std::pair<Arguments, ProcessResult> cases[] = {
        {{}, application},
        // A first argument that is no option starts the application.
        {{"-x", "--get"}, application},
        {{"-help"}, application},
        {{"--help"}, help},
        {{"-h"}, help},
        {{"--selftest", "--extra"}, done},
        // The default folder and a lone folder are run through the executable.
        {{"--render-panel", "--dir", "out2", "ignored"}, done},
        {{"--render-panel", "first", "second"}, done},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(run(arguments), expected) << ::testing::PrintToString(arguments);
    }
    for (const std::string command : {"--HELP", "--Get", "--", "--lat", "--engine", "---get"}) {
        EXPECT_EQ(run({command, "--lat", "1"}),
                  (ProcessResult{kHelp, "unknown command: " + command + "\n", 2}));
    }
    EXPECT_EQ(storesOpened, 0);
}

TEST_F(Dispatch, DecidePrintsSunTimesAndTheDecisionOrAUsageErrorWithoutOpeningAStore) {
    const std::string lisbonNoon = kNoon +
                                   "sunrise: 2024-06-21 05:12:00 Z\n"
                                   "sunset: 2024-06-21 20:34:43 Z\n"
                                   "decision: between sunrise and sunset \xe2\x80\x94 light -> "
                                   "want OFF\n";
    const std::pair<Arguments, std::string> cases[] = {
        // The last of a repeated option counts.
        {{"--lat", "0", "--lat", "38.7223", "--lon", "-9.1393", "--ss-off", "30"}, lisbonNoon},
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
        EXPECT_EQ(run(arguments), (ProcessResult{out, "", 0}));
    }
    // Missing or unparsable coordinates, for either command.
    const std::vector<Arguments> usageErrors = {
        {"--lat", "38"},
        {"--lon", "-9"},
        {"--lat", "38", "--lon", "west"},
        {"--lat", " 38", "--lon", "-9"},
        {"38", "-9"},
    };
    for (const std::string command : {"--decide", "--reconcile"}) {
        for (auto arguments : usageErrors) {
            arguments.insert(arguments.begin(), command);
            arguments.push_back("--apply");
            EXPECT_EQ(run(arguments),
                      (ProcessResult{"", command + " needs --lat <deg> --lon <deg>\n", 2}));
        }
    }
    EXPECT_EQ(storesOpened, 0);
}

// Without --apply it is --decide. With it (whatever its value, or none), and
// for the engine's pass, the live state changes only when it differs from the
// decision, and is put on screen either way (a restarted session may show
// nothing); what does not reach the screen is status 1 and one line.
TEST_F(Dispatch, ReconcileChangesOnlyWhatDiffersAndSaysWhenTheScreenIsNotReached) {
    EXPECT_EQ(run({"--reconcile", "--lat", "38.7", "--lon", "-9.1"}).out,
              run({"--decide", "--lat", "38.7", "--lon", "-9.1"}).out);
    EXPECT_EQ(storesOpened, 0);
    settings.setAutomationEnabled(true);
    settings.setLatitude(38.7);  // noon in Lisbon: want OFF
    settings.setLongitude(-9.1);
    const std::tuple<Arguments, bool, std::string> cases[] = {
        {{"--reconcile", "--lat", "38.7", "--lon", "-9.1", "--apply", "0"},
         true,
         "applied: ON -> OFF (changed)\n"},
        {{"--reconcile", "--apply", "--lat", "38.7", "--lon", "-9.1"},
         false,
         "applied: already OFF (no change)\n"},
        {{"--engine-reconcile"}, true, "engine-reconcile: changed=true (ON -> OFF)\n"},
        {{"--engine-reconcile"}, false, "engine-reconcile: changed=false (OFF -> OFF)\n"}};
    for (const auto& [arguments, before, last] : cases) {
        filter.setEnabled(before);
        display.applies.clear();
        display.outcome = DisplayOutcome::failed("the X server\ndoes not answer");
        const auto failed = run(arguments);
        EXPECT_TRUE(failed.out.ends_with(last)) << failed.out;
        EXPECT_EQ(failed.exitStatus, 1) << last;
        EXPECT_EQ(failed.err, "vesperine: the X server?does not answer\n");
        EXPECT_EQ(display.applies.size(), 1u) << last;
        EXPECT_FALSE(filter.enabled() || display.applies.back().first) << last;
        display.outcome = DisplayOutcome::reachedScreen();
        EXPECT_EQ(run(arguments).exitStatus, 0) << last;
    }
}

TEST(BoolArg, KnowsEightWordsInAnyCaseAndNothingElse) {
    const std::pair<std::optional<bool>, std::vector<const char*>> cases[] = {
        {true, {"1", "true", "TRUE", "on", "On", "yes", "Yes", "YES"}},
        {false, {"0", "false", "False", "off", "Off", "no", "NO"}},
        {std::nullopt, {" yes", "yes ", "y", "2", "", "01", "tru", "n\xc3\xb6"}}};
    for (const auto& [expected, words] : cases) {
        for (const char* word : words) {
            EXPECT_EQ(CLI::boolArg(word), expected) << '"' << word << '"';
        }
    }
}

TEST(NumberRule, AcceptsWholeStrtodNumbersOnly) {
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> numbers[] = {
        {"0.5", 0.5},         {"+.5", 0.5},   {"5.", 5.0},    {"1e-1", 0.1}, {"0x1p-1", 0.5},
        {"-9.1393", -9.1393}, {"-0", -0.0},   {"1E2", 100.0}, {"inf", inf},  {"INF", inf},
        {"Infinity", inf},    {"-inf", -inf}, {"1e999", inf}};
    for (const auto& [text, value] : numbers) {
        EXPECT_EQ(NumberText::parse(text), std::optional<double>(value)) << text;
    }
    for (const char* text : {"nan", "NaN", "NAN", "-nan"}) {
        const auto parsed = NumberText::parse(text);
        EXPECT_TRUE(parsed && std::isnan(*parsed)) << text;
    }
    using namespace std::string_view_literals;
    for (const std::string_view text :
         {" 0.5"sv, "0.5 "sv, "0,5"sv, "1.2.3"sv, "--1"sv, ""sv, "\t1"sv, "\n1"sv, "1\n"sv, "abc"sv,
          "."sv, "+"sv, "e5"sv, "0x"sv, "1\0002"sv, "\0001"sv}) {
        EXPECT_EQ(NumberText::parse(text), std::nullopt) << '"' << text << '"';
    }
}

TEST(FmtDate, WritesTheLocalTimeWithItsOffsetOrAPlaceholder) {
    const Instant solstice = utc("2024-06-21T05:12:00.9Z");
    const auto at = [](double seconds) { return Instant::fromSecondsSince1970(seconds); };
    const std::string dash = "\xe2\x80\x94";
    const std::tuple<const char*, std::optional<Instant>, std::string> cases[] = {
        {"UTC0", solstice, "2024-06-21 05:12:00 Z"},
        {"EST5", solstice, "2024-06-21 00:12:00 -05:00"},
        {"Europe/Lisbon", solstice, "2024-06-21 06:12:00 +01:00"},  // summer time
        // An offset with seconds, like a local mean time zone.
        {"LMT+0:36:45", solstice, "2024-06-21 04:35:15 -00:36:45"},
        // Truncated toward the earlier second.
        {"UTC0", at(59.999), "1970-01-01 00:00:59 Z"},
        {"UTC0", at(-0.5), "1969-12-31 23:59:59 Z"},
        // Far years: 11970, and 1 BC (year of the era 1).
        {"UTC0", at(315569520000.0), "11970-01-01 00:00:00 Z"},
        {"UTC0", utc("0000-06-01T00:00:00Z"), "0001-06-01 00:00:00 Z"},
        {"UTC0", std::nullopt, dash},
        {"UTC0", at(std::nan("")), dash},
        {"UTC0", at(1e300), dash},
        {"UTC0", at(1e18), dash},
    };
    for (const auto& [zone, instant, text] : cases) {
        setenv("TZ", zone, 1);
        tzset();
        EXPECT_EQ(CLI::fmtDate(instant), text) << zone << " " << text;
    }
}

}  // namespace
}  // namespace vesperine
