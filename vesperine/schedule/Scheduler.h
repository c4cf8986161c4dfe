#pragma once

#include <optional>
#include <string_view>

#include "schedule/Instant.h"
#include "schedule/SunTimes.h"

namespace vesperine::Scheduler {

namespace Reason {
inline constexpr std::string_view polarDay = "polar day (sun never sets) \u2014 treating as light";
inline constexpr std::string_view polarNight =
    "polar night (sun never rises) \u2014 treating as dark";
inline constexpr std::string_view beforeSunrise = "before sunrise \u2014 dark";
inline constexpr std::string_view daylight = "between sunrise and sunset \u2014 light";
inline constexpr std::string_view afterSunset = "after sunset \u2014 dark";
}  // namespace Reason

struct Decision {
    SunTimes sun;
    std::optional<Instant> adjustedSunrise;  // sun.sunrise + sunrise offset
    std::optional<Instant> adjustedSunset;   // sun.sunset + sunset offset
    bool wantOn = false;                     // true: the filter should be on (dark)
    std::string_view reason;                 // one of the Reason texts
};

// Should the filter be on at `now`? Offsets are minutes, of either sign; a
// positive offset moves the event later.
Decision decide(double latitudeDegrees, double longitudeDegrees, double sunriseOffsetMinutes,
                double sunsetOffsetMinutes, Instant now);

}  // namespace vesperine::Scheduler
