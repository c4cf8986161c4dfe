#pragma once

#include "schedule/Instant.h"
#include "schedule/SunTimes.h"

namespace vesperine::Solar {

// Low-precision sunrise equation for the local mean solar day whose noon lies
// nearest to `date` (the day changes over 69.12 s before local mean midnight).
// Latitude north-positive and longitude east-positive, in degrees. Inputs are
// not screened: NaN falls through to `normal` with NaN instants.
SunTimes compute(double latitudeDegrees, double longitudeDegrees, Instant date);

}  // namespace vesperine::Solar
