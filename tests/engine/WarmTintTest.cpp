#include "engine/WarmTint.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace vesperine {
namespace {

TEST(WarmTint, StrengthMapsOntoTheTemperatureRangeAndWhiteLosesBlueFirst) {
    const std::pair<double, double> cases[] = {
        {0.0, 6500.0},  {0.5, 4200.0}, {1.0, 1900.0},
        {-1.0, 6500.0}, {3.0, 1900.0}, {std::numeric_limits<double>::quiet_NaN(), 6500.0}};
    for (const auto& [strength, kelvin] : cases) {
        EXPECT_DOUBLE_EQ(WarmTint::temperatureKelvin(strength), kelvin) << strength;
    }
    WarmTint::Rgb previous = WarmTint::whitePoint(6500.0);
    EXPECT_EQ(previous.green + previous.blue, 2.0);
    for (double kelvin = 6300.0; kelvin >= 1900.0; kelvin -= 200.0) {
        const auto white = WarmTint::whitePoint(kelvin);
        EXPECT_EQ(white.red, 1.0) << kelvin;
        EXPECT_LT(white.green, previous.green) << kelvin;
        EXPECT_LT(white.blue, white.green) << kelvin;
        EXPECT_GE(white.blue, 0.0) << kelvin;
        previous = white;
    }
    const auto candle = WarmTint::whitePoint(3400.0);  // roughly the familiar values
    EXPECT_NEAR(candle.green, 0.79, 0.02);
    EXPECT_NEAR(candle.blue, 0.53, 0.02);
}

TEST(WarmTint, RampsStartFromIdentity) {
    // On at no strength is off: the white point of 6500 K above.
    const auto off = WarmTint::ramp(256, false, 1.0);
    ASSERT_EQ(off.red.size(), 256u);
    for (std::size_t i = 0; i < 256; ++i) {
        ASSERT_EQ(off.green[i], std::lround(static_cast<double>(i) * 65535.0 / 255.0)) << i;
    }
    const auto warm = WarmTint::ramp(256, true, 0.5);
    EXPECT_EQ(warm.red.back(), 65535);
    EXPECT_LT(warm.blue.back(), 0.75 * 65535);
    EXPECT_GT(warm.blue.back(), WarmTint::ramp(256, true, 0.9).blue.back());
    EXPECT_EQ(WarmTint::ramp(1, false, 0.0).red, std::vector<std::uint16_t>{65535});
    EXPECT_TRUE(WarmTint::ramp(0, true, 0.5).red.empty());
}

}  // namespace
}  // namespace vesperine
