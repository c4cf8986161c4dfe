#include "engine/ColorFilterState.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/KeyFileStore.h"
#include "engine/NumberText.h"
#include "engine/Settings.h"
#include "engine/StorePaths.h"

namespace vesperine {
namespace {

constexpr std::string_view kEnabledKey = "enabled";
constexpr std::string_view kTypeKey = "type";
constexpr std::string_view kStrengthKey = "strength";

std::optional<std::int64_t> parseInteger(const std::string& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || end != text.c_str() + text.size()) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(value);
}

}  // namespace

double clampStrength(double value) {
    // NaN, negatives and -0 all become +0, so "-0" is never stored or printed.
    if (!(value > 0.0)) {
        return 0.0;
    }
    return value > 1.0 ? 1.0 : value;
}

ColorFilterState& ColorFilterState::shared() {
    static KeyFileStore store(StorePaths::filterStateFile(), "ColorFilter");
    static const std::unique_ptr<DisplayBackend> display = makeSessionDisplay();
    static ColorFilterState state(store, *display);
    return state;
}

bool ColorFilterState::enabled() const {
    const auto text = store_.value(kEnabledKey);
    return text && readsAsTrue(*text);
}

FilterChange ColorFilterState::setEnabled(bool enabled) {
    FilterChange change;
    // The apply runs under the store's lock: concurrent writers reach the
    // screen in the order of their writes, so screen and file agree.
    change.store =
        store_.change(StoreChange{kEnabledKey, enabled ? "true" : "false",
                                  [enabled](const std::optional<std::string>& stored) {
                                      return stored.has_value() && readsAsTrue(*stored) == enabled;
                                  },
                                  [&] { change.display = applyCurrentState(); }});
    return change;
}

std::int64_t ColorFilterState::type() const {
    const auto text = store_.value(kTypeKey);
    if (!text) {
        return warmTintType;
    }
    return parseInteger(*text).value_or(warmTintType);
}

double ColorFilterState::strength() const {
    const auto text = store_.value(kStrengthKey);
    if (!text) {
        return defaultStrength;
    }
    const auto value = NumberText::parse(*text);
    return value ? clampStrength(*value) : defaultStrength;
}

FilterChange ColorFilterState::setStrength(double strength, Reach reach) {
    FilterChange change;
    const double clamped = clampStrength(strength);
    const auto alreadyStored = [clamped](const std::optional<std::string>& stored) {
        return (stored ? NumberText::parse(*stored) : std::nullopt) == clamped;
    };
    const auto show = [&] {
        if (enabled()) {
            change.display =
                reach == Reach::previewed ? display_.preview(clamped) : applyCurrentState();
        }
    };
    change.store = store_.change(
        StoreChange{kStrengthKey, NumberText::formatRoundTrip(clamped), alreadyStored, show});
    return change;
}

DisplayOutcome ColorFilterState::applyCurrentState() {
    // Off is the identity ramp whatever the strength, so it is not read then.
    const bool on = enabled();
    return display_.apply(on, on ? strength() : 0.0);
}

}  // namespace vesperine
