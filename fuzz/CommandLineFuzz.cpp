// Drives the command line with arbitrary argument lists: the option parser,
// the boolean words, the number rule, the date format and the decision, all
// over in-memory stores. Arguments are the input split at NUL bytes; the
// first input byte picks the command word so that every command is reached.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/Options.h"
#include "engine/ColorFilterState.h"
#include "engine/KeyValueStore.h"
#include "engine/NumberText.h"
#include "engine/Settings.h"
#include "schedule/Scheduler.h"

namespace {

using namespace vesperine;

class FixedClock final : public Clock {
  public:
    Instant now() const override { return Instant::fromSecondsSince1970(1718971200.0); }
};

class NoInterface final : public CLI::InterfaceCommands {
  public:
    int runSelfTest() override { return 0; }
    int renderPanel(const std::string&) override { return 0; }
};

const char* const kCommands[] = {"--help",
                                 "-h",
                                 "--get",
                                 "--set-enabled",
                                 "--set-intensity",
                                 "--decide",
                                 "--reconcile",
                                 "--engine-status",
                                 "--render-panel",
                                 "--selftest",
                                 "--engine-reconcile",
                                 "--unknown"};

double doubleAt(const uint8_t* data, size_t size, size_t index) {
    double value = 0;
    if (size >= (index + 1) * sizeof value) {
        std::memcpy(&value, data + index * sizeof value, sizeof value);
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static std::FILE* sink = std::fopen("/dev/null", "w");
    if (size == 0) {
        return 0;
    }

    std::vector<std::string> arguments = {
        "vesperine", kCommands[data[0] % (sizeof kCommands / sizeof *kCommands)]};
    std::string current;
    for (size_t i = 1; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    arguments.push_back(current);

    for (const std::string& argument : arguments) {
        (void)CLI::boolArg(argument);
        if (const auto number = NumberText::parse(argument)) {
            (void)NumberText::formatG(*number);
            (void)NumberText::formatRoundTrip(*number);
            (void)CLI::fmtDate(Instant::fromSecondsSince1970(*number));
        }
    }

    // Raw doubles, including NaN and infinities, straight into the decision.
    const auto decision = Scheduler::decide(doubleAt(data, size, 0), doubleAt(data, size, 1),
                                            doubleAt(data, size, 2), doubleAt(data, size, 3),
                                            Instant::fromSecondsSince1970(doubleAt(data, size, 4)));
    (void)CLI::fmtDate(decision.adjustedSunrise);
    (void)CLI::fmtDate(decision.adjustedSunset);

    InMemoryStore filterStore;
    InMemoryStore settingsStore;
    NullDisplay display;
    ColorFilterState filter(filterStore, display);
    Settings settings(settingsStore);
    // Stored texts come from the input too, so the readings see garbage.
    if (arguments.size() > 3) {
        settingsStore.setValue(Settings::latitudeKey, arguments[2]);
        settingsStore.setValue(Settings::longitudeKey, arguments[3]);
        settingsStore.setValue(Settings::automationEnabledKey, "true");
        filterStore.setValue("strength", arguments[3]);
        filterStore.setValue("type", arguments[2]);
    }
    FixedClock clock;
    NoInterface interface;
    // Whatever the numbers, a --decide that succeeds prints the time and a decision.
    char* printed = nullptr;
    size_t printedSize = 0;
    std::FILE* out = open_memstream(&printed, &printedSize);
    CLI::CommandContext context{out,
                                sink,
                                clock,
                                [&]() -> ColorFilterState& { return filter; },
                                [&]() -> Settings& { return settings; },
                                interface};
    const auto status = CLI::run(arguments, context);
    std::fclose(out);
    const std::string text(printed, printedSize);
    std::free(printed);
    if (arguments[1] == "--decide" && status == 0 &&
        (text.rfind("now: ", 0) != 0 || text.find("\ndecision: ") == std::string::npos)) {
        __builtin_trap();
    }
    return 0;
}
