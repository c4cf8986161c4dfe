#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "cli/CommandLine.h"
#include "engine/ColorFilterState.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "support/TempDir.h"
#include "support/Time.h"

namespace vesperine {
namespace {

class FixedClock final : public Clock {
  public:
    explicit FixedClock(Instant now) : now_(now) {}
    Instant now() const override { return now_; }

  private:
    Instant now_;
};

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

    RunResult run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "vesperine");
        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        CLI::CommandContext context{out,
                                    err,
                                    clock,
                                    [this]() -> ColorFilterState& {
                                        ++filterOpened;
                                        return filter;
                                    },
                                    [this]() -> Settings& {
                                        ++settingsOpened;
                                        return settings;
                                    },
                                    interface};
        RunResult result;
        result.status = CLI::run(arguments, context);
        result.out = testing::drainAndClose(out);
        result.err = testing::drainAndClose(err);
        return result;
    }

    FixedClock clock{testing::utc("2024-06-21T12:00:00Z")};
    InMemoryStore filterStore;
    InMemoryStore settingsStore;
    NullDisplay display;
    ColorFilterState filter{filterStore, display};
    Settings settings{settingsStore};
    RecordingInterface interface;
    int filterOpened = 0;
    int settingsOpened = 0;
};

const std::string kHelp = std::string(CLI::helpText) + "\n";

TEST_F(Dispatch, WithoutACommandTheApplicationStarts) {
    const auto result = run({});
    EXPECT_EQ(result.status, std::nullopt);
    EXPECT_EQ(result.out + result.err, "");
}

TEST_F(Dispatch, FirstArgumentsThatAreNoCommandStartTheApplication) {
    for (const char* first : {"-x", "list", "-", "-help", "h"}) {
        const auto result = run({first, "--get"});
        EXPECT_EQ(result.status, std::nullopt) << first;
        EXPECT_EQ(result.out, "") << first;
        EXPECT_EQ(filterOpened, 0) << first;
    }
}

TEST_F(Dispatch, HelpInBothSpellingsIgnoringExtraOptions) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"--help"}, {"-h"}, {"--help", "--lat", "5"}}) {
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, kHelp);
        EXPECT_EQ(result.err, "");
    }
}

TEST_F(Dispatch, HelpTextIsSixteenLinesWithDescriptionsAtColumn32) {
    const std::string help = CLI::helpText;
    EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 15);
    EXPECT_NE(help.back(), '\n');
    ASSERT_NE(help.find("  --decide"), std::string::npos);
    EXPECT_EQ(help.find("  --decide  --lat D --lon D [--sr-off M --ss-off M]\n"
                        "                                print sunrise/sunset"),
              help.find("  --decide"));
    EXPECT_NE(help.find("  --get                         print live"), std::string::npos);
}

TEST_F(Dispatch, UnknownCommandsReportAndPrintHelp) {
    for (const char* command : {"--HELP", "--Get", "--", "--lat", "--engine", "---get"}) {
        const auto result = run({command, "--lat", "1"});
        EXPECT_EQ(result.status, 2) << command;
        EXPECT_EQ(result.err, std::string("unknown command: ") + command + "\n");
        EXPECT_EQ(result.out, kHelp);
    }
}

TEST_F(Dispatch, DecidePrintsSunTimesAndTheDecision) {
    const auto result = run({"--decide", "--lat", "38.7223", "--lon", "-9.1393", "--ss-off", "30"});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out,
              "now: 2024-06-21 12:00:00 Z\n"
              "sunrise: 2024-06-21 05:12:00 Z\n"
              "sunset: 2024-06-21 20:34:43 Z\n"
              "decision: between sunrise and sunset \xe2\x80\x94 light -> want OFF\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(filterOpened + settingsOpened, 0);
}

TEST_F(Dispatch, OffsetsThatAreNoNumberCountAsZero) {
    const auto plain = run({"--decide", "--lat", "38.7223", "--lon", "-9.1393"});
    const auto odd =
        run({"--decide", "--lat", "38.7223", "--lon", "-9.1393", "--sr-off", "abc", "--ss-off"});
    EXPECT_EQ(odd.status, 0);
    EXPECT_EQ(odd.out, plain.out);
}

TEST_F(Dispatch, PolarPlacesPrintOneSunNeverLine) {
    const auto day = run({"--decide", "--lat", "69.6492", "--lon", "18.9553"});
    EXPECT_EQ(day.out,
              "now: 2024-06-21 12:00:00 Z\n"
              "sun never sets today (polar day)\n"
              "decision: polar day (sun never sets) \xe2\x80\x94 treating as light -> want OFF\n");
    const auto night = run({"--decide", "--lat", "-69.6492", "--lon", "18.9553"});
    EXPECT_EQ(night.out,
              "now: 2024-06-21 12:00:00 Z\n"
              "sun never rises today (polar night)\n"
              "decision: polar night (sun never rises) \xe2\x80\x94 treating as dark -> want ON\n");
}

TEST_F(Dispatch, MissingOrUnparsableCoordinatesAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
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
    EXPECT_EQ(filterOpened, 0);
}

TEST_F(Dispatch, ReconcileWithoutApplyIsDecideAndChangesNothing) {
    const auto decide = run({"--decide", "--lat", "38.7", "--lon", "-9.1"});
    const auto reconcile = run({"--reconcile", "--lat", "38.7", "--lon", "-9.1"});
    EXPECT_EQ(reconcile.status, 0);
    EXPECT_EQ(reconcile.out, decide.out);
    EXPECT_EQ(filterOpened, 0);
}

TEST_F(Dispatch, DecideIgnoresApply) {
    filter.setEnabled(true);
    const auto result = run({"--decide", "--lat", "38.7", "--lon", "-9.1", "--apply"});
    EXPECT_EQ(result.out.find("applied"), std::string::npos);
    EXPECT_TRUE(filter.enabled());
}

TEST_F(Dispatch, ReconcileApplyChangesOnlyWhenDifferentWhateverTheApplyValue) {
    filter.setEnabled(true);
    const auto changed = run({"--reconcile", "--lat", "38.7", "--lon", "-9.1", "--apply", "0"});
    EXPECT_EQ(changed.status, 0);
    EXPECT_NE(changed.out.find("-> want OFF\napplied: ON -> OFF (changed)\n"), std::string::npos)
        << changed.out;
    EXPECT_FALSE(filter.enabled());

    const auto same = run({"--reconcile", "--lat", "38.7", "--lon", "-9.1", "--apply"});
    EXPECT_NE(same.out.find("-> want OFF\napplied: already OFF (no change)\n"), std::string::npos)
        << same.out;
    EXPECT_FALSE(filter.enabled());
}

TEST_F(Dispatch, ExtremeNumbersStillPrintEveryLine) {
    const std::vector<std::vector<std::string>> cases = {
        {"--lat", "inf", "--lon", "0"},
        {"--lat", "nan", "--lon", "nan"},
        {"--lat", "1e999", "--lon", "-1e999"},
        {"--lat", "95", "--lon", "0"},
        {"--lat", "0", "--lon", "200"},
        {"--lat", "38.7", "--lon", "-9.1", "--sr-off", "1e308", "--ss-off", "-1e308"},
        {"--lat", "38.7", "--lon", "-9.1", "--sr-off", "nan", "--ss-off", "inf"},
        {"--lat", "38.7", "--lon", "-9.1", "--sr-off", "1e10"},
    };
    for (auto arguments : cases) {
        arguments.insert(arguments.begin(), "--decide");
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(result.out.rfind("now: 2024-06-21 12:00:00 Z\n", 0), 0u) << result.out;
        EXPECT_NE(result.out.find("\ndecision: "), std::string::npos) << result.out;
    }
    const auto nan = run({"--decide", "--lat", "nan", "--lon", "0"});
    EXPECT_EQ(nan.out,
              "now: 2024-06-21 12:00:00 Z\n"
              "sunrise: \xe2\x80\x94\n"
              "sunset: \xe2\x80\x94\n"
              "decision: after sunset \xe2\x80\x94 dark -> want ON\n");
}

TEST_F(Dispatch, DevelopmentCommandsGoToTheInterfaceModule) {
    EXPECT_EQ(run({"--selftest", "--extra"}).status, 0);
    EXPECT_EQ(interface.selfTests, 1);

    run({"--render-panel"});
    run({"--render-panel", "out"});
    run({"--render-panel", "--dir", "out2", "ignored"});
    run({"--render-panel", "first", "second"});
    EXPECT_EQ(interface.renderedInto,
              (std::vector<std::string>{"docs/evidence/vesperine-ui", "out", "out2", "first"}));
    EXPECT_EQ(filterOpened + settingsOpened, 0);
}

}  // namespace
}  // namespace vesperine
