#include "schedule/Scheduler.h"

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
        // Lisbon's day changes at 00:35:24 UTC; a +300 minute sunset offset puts
        // the adjusted sunset at 01:04 UTC of the next date: it still counts
        // before the change, and not after it.
        {kLisbonLat, kLisbonLon, 0, 300, "2024-06-22T00:30:00Z", false, R::daylight},
        {kLisbonLat, kLisbonLon, 0, 300, "2024-06-22T00:40:00Z", true, R::beforeSunrise},
        {69.6492, 18.9553, 0, 0, "2024-06-21T12:00:00Z", false, R::polarDay},
        {69.6492, 18.9553, 0, 0, "2024-12-21T12:00:00Z", true, R::polarNight},
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

TEST(Scheduler, AdjustedTimesAreTheSunTimesShiftedAndTheStrictTestDecidesAtThem) {
    const auto d =
        Scheduler::decide(kLisbonLat, kLisbonLon, 12.5, -30, utc("2024-06-21T12:00:00Z"));
    ASSERT_TRUE(d.adjustedSunrise && d.adjustedSunset);
    EXPECT_DOUBLE_EQ(d.adjustedSunrise->secondsSince1970(),
                     d.sun.sunrise->secondsSince1970() + 750.0);
    EXPECT_DOUBLE_EQ(d.adjustedSunset->secondsSince1970(),
                     d.sun.sunset->secondsSince1970() - 1800.0);

    const auto atSunrise = Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *d.sun.sunrise);
    EXPECT_EQ(atSunrise.reason, Scheduler::Reason::daylight);
    const auto atSunset = Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *d.sun.sunset);
    EXPECT_EQ(atSunset.reason, Scheduler::Reason::afterSunset);
}

TEST(Scheduler, OffsetsThatCloseTheDaylightLeaveOnlyDarkness) {
    // Equator at the equinox has about 12 hours of daylight.
    for (int hour = 0; hour < 24; ++hour) {
        const Instant when = Instant::fromSecondsSince1970(
            utc("2024-03-20T00:00:00Z").secondsSince1970() + hour * 3600.0);
        const auto d = Scheduler::decide(0.0, 0.0, 600, -600, when);
        EXPECT_TRUE(d.wantOn) << hour;
        EXPECT_NE(d.reason, Scheduler::Reason::daylight) << hour;
    }
}

}  // namespace
}  // namespace vesperine
