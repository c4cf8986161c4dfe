#include "engine/WarmTint.h"

#include <algorithm>
#include <cmath>

#include "engine/ColorFilterState.h"

namespace vesperine::WarmTint {
namespace {

struct Chromaticity {
    double x;
    double y;
};

// The Planckian locus in CIE 1931 xy (cubic-spline fit by Kim et al.,
// valid from 1667 K to 25000 K).
Chromaticity planckianLocus(double kelvin) {
    const double t = std::clamp(kelvin, 1667.0, 25000.0);
    const double t2 = t * t;
    const double t3 = t2 * t;
    const double x = t <= 4000.0
                         ? -0.2661239e9 / t3 - 0.2343589e6 / t2 + 0.8776956e3 / t + 0.179910
                         : -3.0258469e9 / t3 + 2.1070379e6 / t2 + 0.2226347e3 / t + 0.240390;
    const double x2 = x * x;
    const double x3 = x2 * x;
    double y = 0.0;
    if (t <= 2222.0) {
        y = -1.1063814 * x3 - 1.34811020 * x2 + 2.18555832 * x - 0.20219683;
    } else if (t <= 4000.0) {
        y = -0.9549476 * x3 - 1.37418593 * x2 + 2.09137015 * x - 0.16748867;
    } else {
        y = 3.0817580 * x3 - 5.87338670 * x2 + 3.75112997 * x - 0.37001483;
    }
    return {x, y};
}

// Linear sRGB of the chromaticity at luminance 1.
Rgb linearRgb(Chromaticity c) {
    const double X = c.x / c.y;
    const double Z = (1.0 - c.x - c.y) / c.y;
    return {3.2404542 * X - 1.5371385 - 0.4985314 * Z, -0.9692660 * X + 1.8760108 + 0.0415560 * Z,
            0.0556434 * X - 0.2040259 + 1.0572252 * Z};
}

double srgbEncode(double linear) {
    if (!(linear < 1.0)) {
        return 1.0;
    }
    const double v = std::max(linear, 0.0);
    return v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
}

std::vector<std::uint16_t> scaledIdentity(std::size_t size, double factor) {
    std::vector<std::uint16_t> channel(size);
    for (std::size_t i = 0; i < size; ++i) {
        // A one-entry ramp has only its top.
        const double level =
            size > 1 ? static_cast<double>(i) / static_cast<double>(size - 1) : 1.0;
        channel[i] = static_cast<std::uint16_t>(std::lround(level * factor * 65535.0));
    }
    return channel;
}

}  // namespace

double temperatureKelvin(double strength) {
    return neutralKelvin - clampStrength(strength) * fullStrengthDropKelvin;
}

Rgb whitePoint(double kelvin) {
    if (std::isnan(kelvin)) {
        kelvin = neutralKelvin;
    }
    const Rgb at = linearRgb(planckianLocus(kelvin));
    const Rgb neutral = linearRgb(planckianLocus(neutralKelvin));
    Rgb relative{at.red / neutral.red, at.green / neutral.green, at.blue / neutral.blue};
    const double brightest = std::max({relative.red, relative.green, relative.blue});
    return {srgbEncode(relative.red / brightest), srgbEncode(relative.green / brightest),
            srgbEncode(relative.blue / brightest)};
}

GammaRamp ramp(std::size_t size, bool enabled, double strength) {
    const Rgb white = enabled ? whitePoint(temperatureKelvin(strength)) : Rgb{};
    return {scaledIdentity(size, white.red), scaledIdentity(size, white.green),
            scaledIdentity(size, white.blue)};
}

}  // namespace vesperine::WarmTint
