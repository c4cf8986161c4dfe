#include "engine/ReconcileEngine.h"

namespace vesperine::ReconcileEngine {
namespace {

// The gate and the decision, with the settings read in a fixed order.
std::optional<Scheduler::Decision> gatedDecision(const Settings& settings, Instant now) {
    if (!settings.automationEnabled() || !settings.hasValidLocation()) {
        return std::nullopt;
    }
    const auto latitude = settings.latitude();
    const auto longitude = settings.longitude();
    if (!latitude || !longitude) {
        return std::nullopt;
    }
    const double sunriseOffset = settings.sunriseOffsetMinutes();
    const double sunsetOffset = settings.sunsetOffsetMinutes();
    return Scheduler::decide(*latitude, *longitude, sunriseOffset, sunsetOffset, now);
}

}  // namespace

Pass reconcile(const Settings& settings, ColorFilterState& filter, Instant now) {
    const auto decision = gatedDecision(settings, now);
    if (!decision) {
        return {};
    }
    if (decision->wantOn == filter.enabled()) {
        return {true, std::nullopt};
    }
    return {true, filter.setEnabled(decision->wantOn)};
}

Snapshot snapshot(const Settings& settings, const ColorFilterState& filter, Instant now) {
    Snapshot result;
    result.decision = gatedDecision(settings, now);
    if (result.decision) {
        result.automationEnabled = true;
        result.hasLocation = true;
    } else {
        result.automationEnabled = settings.automationEnabled();
        result.hasLocation = settings.hasValidLocation();
    }
    result.currentlyEnabled = filter.enabled();
    return result;
}

}  // namespace vesperine::ReconcileEngine
