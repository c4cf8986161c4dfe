#include "schedule/Scheduler.h"
#include "schedule/Solar.h"

#include <gtest/gtest.h>

#include "support/Time.h"

namespace vesperine {
namespace {

using testing::utc;

constexpr double kLisbonLat = 38.7223;
constexpr double kLisbonLon = -9.1393;

TEST(Scheduler, DecidesFromTheAdjustedTimes) {
    namespace R = Scheduler::Reason;
    const struct {
        double latitude, longitude, sunriseOffset, sunsetOffset;
        const char* now;
        bool wantOn;
        std::string_view reason;
    } cases[] = {
        {kLisbonLat, kLisbonLon, 0, 0, "2024-06-21T12:00:00Z", false, R::daylight},
        {kLisbonLat, kLisbonLon, 0, 0, "2024-06-21T20:05:00Z", true, R::afterSunset},
        {kLisbonLat, kLisbonLon, 0, 0, "2024-06-21T05:00:00Z", true, R::beforeSunrise},
        // The adjusted sunset is 20:34:43.2: still light half an hour after sunset.
        {kLisbonLat, kLisbonLon, 0, 30, "2024-06-21T20:30:00Z", false, R::daylight},
        // A sunrise offset of +30 keeps it dark until 05:42.
        {kLisbonLat, kLisbonLon, 30, 0, "2024-06-21T05:30:00Z", true, R::beforeSunrise},
        {kLisbonLat, kLisbonLon, -30, 0, "2024-06-21T05:30:00Z", false, R::daylight},
        // Offsets count to the second: +12.5 minutes puts sunrise at 05:24:30.9.
        {kLisbonLat, kLisbonLon, 12.5, 0, "2024-06-21T05:24:30Z", true, R::beforeSunrise},
        {kLisbonLat, kLisbonLon, 12.5, 0, "2024-06-21T05:24:31Z", false, R::daylight},
        // Lisbon's day changes at 00:35:24 UTC; a +300 minute sunset offset puts
        // the adjusted sunset at 01:04 UTC of the next date: it still counts
        // before the change, and not after it.
        {kLisbonLat, kLisbonLon, 0, 300, "2024-06-22T00:30:00Z", false, R::daylight},
        {kLisbonLat, kLisbonLon, 0, 300, "2024-06-22T00:40:00Z", true, R::beforeSunrise},
        {69.6492, 18.9553, 0, 0, "2024-06-21T12:00:00Z", false, R::polarDay},
        {69.6492, 18.9553, 0, 0, "2024-12-21T12:00:00Z", true, R::polarNight},
        // Offsets that close the equator's 12 hours of daylight leave only darkness.
        {0, 0, 600, -600, "2024-03-20T07:00:00Z", true, R::beforeSunrise},
        {0, 0, 600, -600, "2024-03-20T12:00:00Z", true, R::beforeSunrise},
        {0, 0, 600, -600, "2024-03-20T17:00:00Z", true, R::afterSunset},
    };
    for (const auto& c : cases) {
        const auto d =
            Scheduler::decide(c.latitude, c.longitude, c.sunriseOffset, c.sunsetOffset, utc(c.now));
        EXPECT_EQ(d.wantOn, c.wantOn) << c.now << " " << c.sunriseOffset << "/" << c.sunsetOffset;
        EXPECT_EQ(d.reason, c.reason) << c.now;
        // Polar outcomes have no times to adjust.
        EXPECT_EQ(d.adjustedSunrise.has_value(), d.sun.kind == SunTimes::Kind::normal) << c.now;
    }
}

// Only the strict earlier-than test: light exactly at sunrise, dark exactly at sunset.
TEST(Scheduler, DecidesStrictlyAtTheSunTimes) {
    const SunTimes sun = Solar::compute(kLisbonLat, kLisbonLon, utc("2024-06-21T12:00:00Z"));
    EXPECT_EQ(Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *sun.sunrise).reason,
              Scheduler::Reason::daylight);
    EXPECT_EQ(Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *sun.sunset).reason,
              Scheduler::Reason::afterSunset);
}

}  // namespace
}  // namespace vesperine
