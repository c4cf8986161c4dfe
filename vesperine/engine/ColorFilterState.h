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
// backend after every change, while the store's write lock is still held, so
// that concurrent changes reach the screen in the order they were stored. A
// change to a value the store already holds writes nothing but still applies.
class ColorFilterState {
  public:
    static constexpr std::int64_t warmTintType = 1;
    static constexpr double defaultStrength = 0.5;

    ColorFilterState(KeyValueStore& store, DisplayBackend& display)
        : store_(store), display_(display) {}

    // The user's filter-state file, group [ColorFilter], on the session's
    // display; made on first use.
    static ColorFilterState& shared();

    bool enabled() const;  // false when absent
    FilterChange setEnabled(bool enabled);

    std::int64_t type() const;  // 1 when absent or unreadable

    double strength() const;  // in [0, 1]; 0.5 when absent or unreadable
    // How a change of strength goes to the screen: applied, which waits to
    // see it taken, or previewed, handed over without waiting (a drag).
    enum class Reach { applied, previewed };
    // Callers clamp first; a value outside [0, 1] or NaN is clamped here too.
    FilterChange setStrength(double strength, Reach reach = Reach::applied);

    // Puts the stored state on screen again without writing it: after wake,
    // a monitor change, or another program resetting the ramps.
    DisplayOutcome applyCurrentState();

  private:
    KeyValueStore& store_;
    DisplayBackend& display_;
};

// 0 for NaN and values below 0, 1 for values above 1.
double clampStrength(double value);

}  // namespace vesperine
