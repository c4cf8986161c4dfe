#pragma once

#include <optional>

#include "engine/ColorFilterState.h"
#include "engine/Settings.h"
#include "schedule/Instant.h"
#include "schedule/Scheduler.h"

namespace vesperine::ReconcileEngine {

struct Snapshot {
    bool automationEnabled = false;
    bool hasLocation = false;
    bool currentlyEnabled = false;
    std::optional<Scheduler::Decision> decision;  // absent: a pass would do nothing
};

// What one pass did.
struct Pass {
    bool gateOpen = false;              // automation on and a valid place: the schedule counts
    std::optional<FilterChange> write;  // the switch of the enabled flag, when it differed
};

// One pass: when automation is on and a valid place is stored, switch the live
// filter to the schedule's wish if it differs. Only the enabled flag is ever
// touched; with the gate closed nothing is read from the live state at all.
Pass reconcile(const Settings& settings, ColorFilterState& filter, Instant now);

// What a pass at `now` would see and want, without writing anything.
Snapshot snapshot(const Settings& settings, const ColorFilterState& filter, Instant now);

}  // namespace vesperine::ReconcileEngine
