#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vesperine::WarmTint {

inline constexpr double neutralKelvin = 6500.0;
inline constexpr double fullStrengthDropKelvin = 4600.0;  // strength 1 gives 1900 K

// 6500 K - strength x 4600 K, with the strength clamped into [0, 1].
double temperatureKelvin(double strength);

// Channel factors in [0, 1], gamma-encoded like the ramps they scale.
struct Rgb {
    double red = 1.0;
    double green = 1.0;
    double blue = 1.0;
};

// The black-body colour at `kelvin` (clamped to 1667..25000 K, the range of
// the locus fit), relative to 6500 K and scaled so that its brightest channel
// is 1: 6500 K is exactly white, lower temperatures lose blue first.
Rgb whitePoint(double kelvin);

struct GammaRamp {
    std::vector<std::uint16_t> red;
    std::vector<std::uint16_t> green;
    std::vector<std::uint16_t> blue;
};

// A CRTC ramp of `size` entries computed from identity: off (or strength 0)
// is the identity ramp; on scales each channel by the white point of the
// strength's temperature.
GammaRamp ramp(std::size_t size, bool enabled, double strength);

}  // namespace vesperine::WarmTint
