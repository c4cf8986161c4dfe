#pragma once

#include <cstdint>
#include <string>

#include "engine/DisplayBackend.h"
#include "engine/KeyValueStore.h"

namespace vesperine {

// What a change of the live filter came to: the store's write, then the
// display's apply of what the store holds.
struct FilterChange {
    StoreOutcome store;
    DisplayOutcome display;

    // Stored and, where the session has a screen, reached it.
    bool succeeded() const { return store.stored && !display.failedToReach(); }
    // The one line saying what failed; empty when it succeeded.
    std::string failure() const { return !store.stored ? store.error : display.reason; }
};

// The live filter: enabled, type and strength, kept in a per-user store that
// all of the user's processes read, and put on screen through a display
// backend after every change.
class ColorFilterState {
  public:
    static constexpr std::int64_t warmTintType = 1;
    static constexpr double defaultStrength = 0.5;

    // With an `applyLockPath`, applies of all processes take turns, each
    // reading the stored state inside its turn: the last one to apply puts
    // the last stored state on screen, however their writes interleaved.
    ColorFilterState(KeyValueStore& store, DisplayBackend& display, std::string applyLockPath = {})
        : store_(store), display_(display), applyLockPath_(std::move(applyLockPath)) {}

    // The user's filter-state file, group [ColorFilter], on the session's
    // display; made on first use.
    static ColorFilterState& shared();

    bool enabled() const;  // false when absent
    FilterChange setEnabled(bool enabled);

    std::int64_t type() const;  // 1 when absent or unreadable

    double strength() const;  // in [0, 1]; 0.5 when absent or unreadable
    // Callers clamp first; a value outside [0, 1] or NaN is clamped here too.
    FilterChange setStrength(double strength);

    // Puts the stored state on screen again without writing it: after wake,
    // a monitor change, or another program resetting the ramps.
    DisplayOutcome applyCurrentState();

  private:
    KeyValueStore& store_;
    DisplayBackend& display_;
    std::string applyLockPath_;
};

// 0 for NaN and values below 0, 1 for values above 1.
double clampStrength(double value);

}  // namespace vesperine
