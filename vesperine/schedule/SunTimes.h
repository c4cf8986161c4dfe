#pragma once

#include <optional>

#include "schedule/Instant.h"

namespace vesperine {

// Sunrise and sunset of one solar day, or the polar outcome of that day.
struct SunTimes {
    enum class Kind { normal, polarDay, polarNight };

    Kind kind = Kind::normal;
    std::optional<Instant> sunrise;  // present exactly when kind is normal
    std::optional<Instant> sunset;   // present exactly when kind is normal
};

}  // namespace vesperine
