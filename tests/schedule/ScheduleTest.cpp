#include <gtest/gtest.h>

#include "schedule/Scheduler.h"
#include "schedule/Solar.h"
#include "support/Time.h"

namespace vesperine {
namespace {

using testing::utc;

constexpr double kLisbonLat = 38.7223;
constexpr double kLisbonLon = -9.1393;

// Reference times of the low-precision equation, to a tenth of a second; polar
// days and nights have none.
TEST(Solar, SunTimesMatchTheReference) {
    using enum SunTimes::Kind;
    const struct {
        const char* place;
        double latitude, longitude;
        const char* date;
        SunTimes::Kind kind;
        const char *sunrise = nullptr, *sunset = nullptr;
    } cases[] = {
        {"Lisbon midsummer", kLisbonLat, kLisbonLon, "2024-06-21T12:00:00Z", normal,
         "2024-06-21T05:12:00.9Z", "2024-06-21T20:04:43.2Z"},
        // 23:53:26 local mean solar time on the 21st: still the 21st.
        {"Lisbon before day change", kLisbonLat, kLisbonLon, "2024-12-22T00:30:00Z", normal,
         "2024-12-21T07:51:11.6Z", "2024-12-21T17:18:20.9Z"},
        {"Lisbon after day change", kLisbonLat, kLisbonLon, "2024-12-22T00:40:00Z", normal,
         "2024-12-22T07:51:40.1Z", "2024-12-22T17:18:50.2Z"},
        // Southern hemisphere: the sunrise falls on the previous UTC date.
        {"Sydney midwinter", -33.8688, 151.2093, "2024-06-21T12:00:00Z", normal,
         "2024-06-20T20:59:59.7Z", "2024-06-21T06:53:46.2Z"},
        // Either side of the date line, one and the same day.
        {"Fiji east", -17.7, 180.0, "2024-09-01T03:00:00Z", normal, "2024-08-31T18:07:29.8Z",
         "2024-09-01T05:53:08.5Z"},
        {"Fiji west", -17.7, -180.0, "2024-09-01T03:00:00Z", normal, "2024-08-31T18:07:29.8Z",
         "2024-09-01T05:53:08.5Z"},
        {"Tromsø summer", 69.6492, 18.9553, "2024-06-21T12:00:00Z", polarDay},
        {"Tromsø winter", 69.6492, 18.9553, "2024-12-21T12:00:00Z", polarNight},
        {"South Pole winter", -90.0, 18.9553, "2024-06-21T12:00:00Z", polarNight},
        {"South Pole summer", -90.0, 18.9553, "2024-12-21T12:00:00Z", polarDay},
    };
    const auto at = [](const char* text) { return utc(text).secondsSince1970(); };
    for (const auto& c : cases) {
        const SunTimes sun = Solar::compute(c.latitude, c.longitude, utc(c.date));
        EXPECT_EQ(sun.kind, c.kind) << c.place;
        if (c.kind != normal) {
            EXPECT_FALSE(sun.sunrise || sun.sunset) << c.place;
            continue;
        }
        ASSERT_TRUE(sun.sunrise && sun.sunset) << c.place;
        EXPECT_NEAR(sun.sunrise->secondsSince1970(), at(c.sunrise), 0.05) << c.place;
        EXPECT_NEAR(sun.sunset->secondsSince1970(), at(c.sunset), 0.05) << c.place;
    }
}

TEST(Scheduler, DecidesFromTheAdjustedTimes) {
    namespace R = Scheduler::Reason;
    const struct {
        double latitude, longitude, sunriseOffset, sunsetOffset;
        const char* now;
        bool wantOn;
        std::string_view reason;
    } cases[] = {
        {kLisbonLat, kLisbonLon, 0, 0, "2024-06-21T20:05:00Z", true, R::afterSunset},
        {kLisbonLat, kLisbonLon, 0, 0, "2024-06-21T05:00:00Z", true, R::beforeSunrise},
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
    // Only the strict earlier-than test: light exactly at sunrise, dark exactly at sunset.
    const SunTimes sun = Solar::compute(kLisbonLat, kLisbonLon, utc("2024-06-21T12:00:00Z"));
    EXPECT_EQ(Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *sun.sunrise).reason, R::daylight);
    EXPECT_EQ(Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, *sun.sunset).reason, R::afterSunset);
}

}  // namespace
}  // namespace vesperine
