#include "engine/ColorFilterState.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>

#include "engine/KeyFileStore.h"
#include "engine/NumberText.h"
#include "engine/PrivateFile.h"
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

// Chooses the session's display on the first apply, so that commands which
// only read the state (--get) never load a display or D-Bus library.
class FirstApplyDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool enabled, double strength) override {
        return chosen().apply(enabled, strength);
    }
    std::string_view name() const override { return chosen().name(); }

  private:
    DisplayBackend& chosen() const {
        if (!chosen_) {
            chosen_ = makeSessionDisplay();
        }
        return *chosen_;
    }
    mutable std::unique_ptr<DisplayBackend> chosen_;
};

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
    static FirstApplyDisplay display;
    static ColorFilterState state(store, display, StorePaths::filterStateFile() + ".apply-lock");
    return state;
}

bool ColorFilterState::enabled() const {
    const auto text = store_.value(kEnabledKey);
    return text && readsAsTrue(*text);
}

FilterChange ColorFilterState::setEnabled(bool enabled) {
    FilterChange change;
    change.store = store_.setValue(kEnabledKey, enabled ? "true" : "false");
    if (change.store.stored) {
        change.display = applyCurrentState();
    }
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

FilterChange ColorFilterState::setStrength(double strength) {
    FilterChange change;
    change.store =
        store_.setValue(kStrengthKey, NumberText::formatRoundTrip(clampStrength(strength)));
    if (change.store.stored && enabled()) {
        change.display = applyCurrentState();
    }
    return change;
}

DisplayOutcome ColorFilterState::applyCurrentState() {
    std::optional<PrivateFile::Lock> turn;
    if (!applyLockPath_.empty()) {
        turn.emplace(applyLockPath_);
    }
    // Off is the identity ramp whatever the strength, so it is not read then.
    const bool on = enabled();
    return display_.apply(on, on ? strength() : 0.0);
}

}  // namespace vesperine
