#include "cli/CommandLine.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <string_view>

#include "cli/Options.h"
#include "engine/NumberText.h"
#include "engine/ReconcileEngine.h"
#include "engine/WaylandGammaHolder.h"
#include "schedule/Scheduler.h"

namespace vesperine::CLI {

const char* const helpText =
    "vesperine \u2014 menu-bar app. With no arguments it launches the\n"
    "menu-bar UI. The following headless commands are for testing/scripting\n"
    "and do NOT touch the app's saved settings:\n"
    "\n"
    "  --get                         print live enabled / type / strength\n"
    "  --set-enabled 0|1             flip Color Filters master (live)\n"
    "  --set-intensity 0..1          set Color Filters strength (live)\n"
    "  --decide  --lat D --lon D [--sr-off M --ss-off M]\n"
    "                                print sunrise/sunset + on/off decision (read-only)\n"
    "  --reconcile --lat D --lon D [--apply]\n"
    "                                as --decide; with --apply, set the live state\n"
    "  --render-panel [dir]          render the UI panels to PNGs (read-only;\n"
    "                                default dir: docs/evidence/vesperine-ui)\n"
    "  --selftest                    run headless panel-presentation regression;\n"
    "                                exit 0 if all pass (read-only)\n"
    "  --help                        this help";

namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;

const char* boolWord(bool value) {
    return value ? "true" : "false";
}
const char* stateWord(bool on) {
    return on ? "ON" : "OFF";
}

void printLine(std::FILE* stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
    std::fputc('\n', stream);
}

// An error stays one line though a path or word in it holds a line break:
// control characters print as '?'.
void printErrorLine(std::FILE* stream, std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7f; }, '?');
    printLine(stream, text);
}

// 0 when the change was stored and reached the screen; else its one line on
// standard error and 1.
int changeStatus(const FilterChange& change, CommandContext& context) {
    if (change.succeeded()) {
        return kSuccess;
    }
    printErrorLine(context.err, "vesperine: " + change.failure());
    return kFailure;
}

// The stored state already is what the schedule wants; the screen may not show
// it (after a restart of the session, say), so it is put there once more.
int showStoredState(ColorFilterState& filter, CommandContext& context) {
    return changeStatus(FilterChange{StoreOutcome::ok(), filter.applyCurrentState()}, context);
}

const std::string* lookup(const OptionMap& options, std::string_view key) {
    auto it = options.find(key);
    return it == options.end() ? nullptr : &it->second;
}

// The value of a setting command: "value", else the first positional.
const std::string* settingValue(const OptionMap& options) {
    if (const auto* value = lookup(options, "value")) {
        return value;
    }
    return lookup(options, "_pos0");
}

std::optional<double> numberOption(const OptionMap& options, std::string_view key) {
    const auto* text = lookup(options, key);
    return text ? NumberText::parse(*text) : std::nullopt;
}

int printHelp(CommandContext& context) {
    printLine(context.out, helpText);
    return kSuccess;
}

int getState(CommandContext& context) {
    ColorFilterState& filter = context.filterState();
    std::fprintf(context.out, "enabled=%s\n", boolWord(filter.enabled()));
    std::fprintf(context.out, "type=%" PRId64 "\n", filter.type());
    std::fprintf(context.out, "strength=%.6f\n", filter.strength());
    return kSuccess;
}

int setEnabled(const OptionMap& options, CommandContext& context) {
    const auto* text = settingValue(options);
    const auto wanted = text ? boolArg(*text) : std::nullopt;
    if (!wanted) {
        printLine(context.err, "--set-enabled needs 0|1");
        return kUsageError;
    }
    ColorFilterState& filter = context.filterState();
    const FilterChange change = filter.setEnabled(*wanted);
    std::fprintf(context.out, "enabled=%s\n", boolWord(filter.enabled()));
    return changeStatus(change, context);
}

int setIntensity(const OptionMap& options, CommandContext& context) {
    const auto* text = settingValue(options);
    const auto value = text ? NumberText::parse(*text) : std::nullopt;
    if (!value) {
        printLine(context.err, "--set-intensity needs a 0..1 value");
        return kUsageError;
    }
    ColorFilterState& filter = context.filterState();
    const FilterChange change = filter.setStrength(clampStrength(*value));
    std::fprintf(context.out, "strength=%.6f\n", filter.strength());
    return changeStatus(change, context);
}

int applyWanted(bool wantOn, CommandContext& context) {
    ColorFilterState& filter = context.filterState();
    const bool current = filter.enabled();
    if (current == wantOn) {
        std::fprintf(context.out, "applied: already %s (no change)\n", stateWord(wantOn));
        return showStoredState(filter, context);
    }
    const FilterChange change = filter.setEnabled(wantOn);
    std::fprintf(context.out, "applied: %s -> %s (changed)\n", stateWord(current),
                 stateWord(wantOn));
    return changeStatus(change, context);
}

int decideOrReconcile(const std::string& command, const OptionMap& options,
                      CommandContext& context) {
    const auto latitude = numberOption(options, "lat");
    const auto longitude = numberOption(options, "lon");
    if (options.empty() || !latitude || !longitude) {
        printLine(context.err, command + " needs --lat <deg> --lon <deg>");
        return kUsageError;
    }
    const double sunriseOffset = numberOption(options, "sr-off").value_or(0.0);
    const double sunsetOffset = numberOption(options, "ss-off").value_or(0.0);

    const Instant now = context.clock.now();
    const auto decision =
        Scheduler::decide(*latitude, *longitude, sunriseOffset, sunsetOffset, now);

    printLine(context.out, "now: " + fmtDate(now));
    switch (decision.sun.kind) {
        case SunTimes::Kind::normal:
            printLine(context.out, "sunrise: " + fmtDate(decision.adjustedSunrise));
            printLine(context.out, "sunset: " + fmtDate(decision.adjustedSunset));
            break;
        case SunTimes::Kind::polarDay:
            printLine(context.out, "sun never sets today (polar day)");
            break;
        case SunTimes::Kind::polarNight:
            printLine(context.out, "sun never rises today (polar night)");
            break;
    }
    printLine(context.out, "decision: " + std::string(decision.reason) + " -> want " +
                               stateWord(decision.wantOn));

    if (command == "--reconcile" && options.count("apply") != 0) {
        return applyWanted(decision.wantOn, context);
    }
    return kSuccess;
}

int engineStatus(CommandContext& context) {
    const auto snapshot =
        ReconcileEngine::snapshot(context.settings(), context.filterState(), context.clock.now());
    std::fprintf(context.out, "automationEnabled=%s\n", boolWord(snapshot.automationEnabled));
    std::fprintf(context.out, "hasLocation=%s\n", boolWord(snapshot.hasLocation));
    std::fprintf(context.out, "currentlyEnabled=%s\n", boolWord(snapshot.currentlyEnabled));
    if (!snapshot.decision) {
        printLine(context.out, "decision=none (fail-safe: engine will do nothing)");
    } else {
        printLine(context.out, "decision=" + std::string(snapshot.decision->reason) + " -> want " +
                                   stateWord(snapshot.decision->wantOn));
    }
    return kSuccess;
}

int engineReconcile(CommandContext& context) {
    ColorFilterState& filter = context.filterState();
    const bool before = filter.enabled();
    const auto pass = ReconcileEngine::reconcile(context.settings(), filter, context.clock.now());
    const bool after = filter.enabled();
    std::fprintf(context.out, "engine-reconcile: changed=%s (%s -> %s)\n",
                 boolWord(pass.write.has_value()), stateWord(before), stateWord(after));
    if (pass.write) {
        return changeStatus(*pass.write, context);
    }
    return pass.gateOpen ? showStoredState(filter, context) : kSuccess;
}

int renderPanel(const OptionMap& options, CommandContext& context) {
    const std::string* directory = lookup(options, "dir");
    if (directory == nullptr) {
        directory = lookup(options, "_pos0");
    }
    std::fflush(context.out);
    return context.interface.renderPanel(directory ? *directory : defaultEvidenceDirectory);
}

}  // namespace

std::optional<int> run(const std::vector<std::string>& arguments, CommandContext& context) {
    if (arguments.size() < 2) {
        return std::nullopt;
    }
    const std::string& command = arguments[1];
    if (command.rfind("--", 0) != 0 && command != "-h") {
        return std::nullopt;
    }
    const OptionMap options =
        parseOptions(std::vector<std::string>(arguments.begin() + 2, arguments.end()));

    if (command == "--help" || command == "-h") {
        return printHelp(context);
    }
    if (command == "--get") {
        return getState(context);
    }
    if (command == "--set-enabled") {
        return setEnabled(options, context);
    }
    if (command == "--set-intensity") {
        return setIntensity(options, context);
    }
    if (command == "--decide" || command == "--reconcile") {
        return decideOrReconcile(command, options, context);
    }
    if (command == "--engine-status") {
        return engineStatus(context);
    }
    if (command == "--render-panel") {
        return renderPanel(options, context);
    }
    if (command == "--selftest") {
        std::fflush(context.out);
        return context.interface.runSelfTest();
    }
    if (command == "--engine-reconcile") {
        return engineReconcile(context);
    }
    if (command == WaylandGammaHolder::command && arguments.size() == 5) {
        // Not in the help: the program starts it itself.
        return WaylandGammaHolder::run(arguments[2], arguments[3] == "1",
                                       NumberText::parse(arguments[4]).value_or(0.0));
    }
    printErrorLine(context.err, "unknown command: " + command);
    printHelp(context);
    return kUsageError;
}

}  // namespace vesperine::CLI
