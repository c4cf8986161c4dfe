#pragma once

#include "engine/Clock.h"

namespace vesperine::testing {

// A clock stopped at one instant.
struct FixedClock final : Clock {
    explicit FixedClock(Instant instant) : at(instant) {}
    Instant now() const override { return at; }
    Instant at;
};

}  // namespace vesperine::testing
