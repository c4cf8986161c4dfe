#include "schedule/Solar.h"

#include <gtest/gtest.h>

#include "support/Time.h"

namespace vesperine {
namespace {

using testing::utc;

// Reference times of the low-precision equation, to a tenth of a second.
TEST(Solar, SunriseAndSunsetMatchReference) {
    const struct {
        const char* place;
        double latitude, longitude;
        const char *date, *sunrise, *sunset;
    } cases[] = {
        {"Lisbon midsummer", 38.7223, -9.1393, "2024-06-21T12:00:00Z", "2024-06-21T05:12:00.9Z",
         "2024-06-21T20:04:43.2Z"},
        // 23:53:26 local mean solar time on the 21st: still the 21st.
        {"Lisbon before day change", 38.7223, -9.1393, "2024-12-22T00:30:00Z",
         "2024-12-21T07:51:11.6Z", "2024-12-21T17:18:20.9Z"},
        {"Lisbon after day change", 38.7223, -9.1393, "2024-12-22T00:40:00Z",
         "2024-12-22T07:51:40.1Z", "2024-12-22T17:18:50.2Z"},
        // Southern hemisphere: the sunrise falls on the previous UTC date.
        {"Sydney midwinter", -33.8688, 151.2093, "2024-06-21T12:00:00Z", "2024-06-20T20:59:59.7Z",
         "2024-06-21T06:53:46.2Z"},
        {"Null Island equinox", 0.0, 0.0, "2024-03-20T12:00:00Z", "2024-03-20T06:04:03.5Z",
         "2024-03-20T18:10:43.4Z"},
        // The same day whatever the hour of that day.
        {"Lisbon midsummer night", 38.7223, -9.1393, "2024-06-21T22:30:00Z",
         "2024-06-21T05:12:00.9Z", "2024-06-21T20:04:43.2Z"},
    };
    for (const auto& c : cases) {
        const SunTimes sun = Solar::compute(c.latitude, c.longitude, utc(c.date));
        ASSERT_EQ(sun.kind, SunTimes::Kind::normal) << c.place;
        ASSERT_TRUE(sun.sunrise && sun.sunset);
        EXPECT_NEAR(sun.sunrise->secondsSince1970(), utc(c.sunrise).secondsSince1970(), 0.05)
            << c.place;
        EXPECT_NEAR(sun.sunset->secondsSince1970(), utc(c.sunset).secondsSince1970(), 0.05)
            << c.place;
    }
}

TEST(Solar, PolarDaysHaveNoInstants) {
    const std::tuple<double, const char*, SunTimes::Kind> cases[] = {
        {69.6492, "2024-06-21T12:00:00Z", SunTimes::Kind::polarDay},
        {69.6492, "2024-12-21T12:00:00Z", SunTimes::Kind::polarNight},
        {90.0, "2024-06-21T12:00:00Z", SunTimes::Kind::polarDay},
        {90.0, "2024-12-21T12:00:00Z", SunTimes::Kind::polarNight},
        {-90.0, "2024-06-21T12:00:00Z", SunTimes::Kind::polarNight},
        {-90.0, "2024-12-21T12:00:00Z", SunTimes::Kind::polarDay}};
    for (const auto& [latitude, date, kind] : cases) {
        const SunTimes sun = Solar::compute(latitude, 18.9553, utc(date));
        EXPECT_EQ(sun.kind, kind) << latitude << " " << date;
        EXPECT_FALSE(sun.sunrise || sun.sunset) << latitude << " " << date;
    }
}

TEST(Solar, DateLineLongitudesAgree) {
    const Instant when = utc("2024-09-01T03:00:00Z");
    const SunTimes east = Solar::compute(-17.7, 180.0, when);
    const SunTimes west = Solar::compute(-17.7, -180.0, when);
    ASSERT_TRUE(east.sunrise && west.sunrise && east.sunset && west.sunset);
    EXPECT_DOUBLE_EQ(east.sunrise->secondsSince1970(), west.sunrise->secondsSince1970());
    EXPECT_DOUBLE_EQ(east.sunset->secondsSince1970(), west.sunset->secondsSince1970());
}

}  // namespace
}  // namespace vesperine
