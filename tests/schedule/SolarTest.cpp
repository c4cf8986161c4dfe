#include "schedule/Solar.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "support/Time.h"

namespace vesperine {
namespace {

using testing::utc;

struct SunCase {
    const char* place;
    double latitude;
    double longitude;
    const char* date;
    const char* sunrise;
    const char* sunset;
};

void PrintTo(const SunCase& c, std::ostream* out) {
    *out << c.place;
}

class NormalDays : public ::testing::TestWithParam<SunCase> {};

// Reference times of the low-precision equation, to a tenth of a second.
TEST_P(NormalDays, SunriseAndSunsetMatchReference) {
    const SunCase& c = GetParam();
    const SunTimes sun = Solar::compute(c.latitude, c.longitude, utc(c.date));
    ASSERT_EQ(sun.kind, SunTimes::Kind::normal) << c.place;
    ASSERT_TRUE(sun.sunrise && sun.sunset);
    EXPECT_NEAR(sun.sunrise->secondsSince1970(), utc(c.sunrise).secondsSince1970(), 0.05)
        << c.place;
    EXPECT_NEAR(sun.sunset->secondsSince1970(), utc(c.sunset).secondsSince1970(), 0.05) << c.place;
    EXPECT_LT(*sun.sunrise, *sun.sunset);
}

INSTANTIATE_TEST_SUITE_P(
    Places, NormalDays,
    ::testing::Values(SunCase{"Lisbon midsummer", 38.7223, -9.1393, "2024-06-21T12:00:00Z",
                              "2024-06-21T05:12:00.9Z", "2024-06-21T20:04:43.2Z"},
                      // 23:53:26 local mean solar time on the 21st: still the 21st.
                      SunCase{"Lisbon before day change", 38.7223, -9.1393, "2024-12-22T00:30:00Z",
                              "2024-12-21T07:51:11.6Z", "2024-12-21T17:18:20.9Z"},
                      SunCase{"Lisbon after day change", 38.7223, -9.1393, "2024-12-22T00:40:00Z",
                              "2024-12-22T07:51:40.1Z", "2024-12-22T17:18:50.2Z"},
                      // Southern hemisphere: the sunrise falls on the previous UTC date.
                      SunCase{"Sydney midwinter", -33.8688, 151.2093, "2024-06-21T12:00:00Z",
                              "2024-06-20T20:59:59.7Z", "2024-06-21T06:53:46.2Z"},
                      SunCase{"Null Island equinox", 0.0, 0.0, "2024-03-20T12:00:00Z",
                              "2024-03-20T06:04:03.5Z", "2024-03-20T18:10:43.4Z"}),
    [](const auto& info) {
        std::string name = info.param.place;
        for (char& ch : name) {
            if (!std::isalnum(static_cast<unsigned char>(ch)))
                ch = '_';
        }
        return name;
    });

TEST(Solar, SameDayWhateverTheHourOfThatDay) {
    const SunTimes morning = Solar::compute(38.7223, -9.1393, utc("2024-06-21T03:00:00Z"));
    const SunTimes evening = Solar::compute(38.7223, -9.1393, utc("2024-06-21T22:30:00Z"));
    ASSERT_TRUE(morning.sunrise && evening.sunrise);
    EXPECT_DOUBLE_EQ(morning.sunrise->secondsSince1970(), evening.sunrise->secondsSince1970());
    EXPECT_DOUBLE_EQ(morning.sunset->secondsSince1970(), evening.sunset->secondsSince1970());
}

struct PolarCase {
    double latitude;
    double longitude;
    const char* date;
    SunTimes::Kind kind;
};

void PrintTo(const PolarCase& c, std::ostream* out) {
    *out << c.latitude << "," << c.longitude << " at " << c.date;
}

class PolarDays : public ::testing::TestWithParam<PolarCase> {};

TEST_P(PolarDays, HaveNoInstants) {
    const PolarCase& c = GetParam();
    const SunTimes sun = Solar::compute(c.latitude, c.longitude, utc(c.date));
    EXPECT_EQ(sun.kind, c.kind);
    EXPECT_FALSE(sun.sunrise.has_value());
    EXPECT_FALSE(sun.sunset.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    TromsoAndPoles, PolarDays,
    ::testing::Values(PolarCase{69.6492, 18.9553, "2024-06-21T12:00:00Z", SunTimes::Kind::polarDay},
                      PolarCase{69.6492, 18.9553, "2024-12-21T12:00:00Z",
                                SunTimes::Kind::polarNight},
                      PolarCase{90.0, 0.0, "2024-06-21T12:00:00Z", SunTimes::Kind::polarDay},
                      PolarCase{90.0, 0.0, "2024-12-21T12:00:00Z", SunTimes::Kind::polarNight},
                      PolarCase{-90.0, 0.0, "2024-06-21T12:00:00Z", SunTimes::Kind::polarNight},
                      PolarCase{-90.0, 0.0, "2024-12-21T12:00:00Z", SunTimes::Kind::polarDay}));

TEST(Solar, DateLineLongitudesAgree) {
    const Instant when = utc("2024-09-01T03:00:00Z");
    const SunTimes east = Solar::compute(-17.7, 180.0, when);
    const SunTimes west = Solar::compute(-17.7, -180.0, when);
    ASSERT_EQ(east.kind, SunTimes::Kind::normal);
    ASSERT_EQ(west.kind, SunTimes::Kind::normal);
    EXPECT_DOUBLE_EQ(east.sunrise->secondsSince1970(), west.sunrise->secondsSince1970());
    EXPECT_DOUBLE_EQ(east.sunset->secondsSince1970(), west.sunset->secondsSince1970());
}

TEST(Solar, NotANumberFallsThroughToNormalWithNotANumberInstants) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const SunTimes sun = Solar::compute(nan, -9.1, utc("2024-06-21T12:00:00Z"));
    EXPECT_EQ(sun.kind, SunTimes::Kind::normal);
    ASSERT_TRUE(sun.sunrise && sun.sunset);
    EXPECT_TRUE(std::isnan(sun.sunrise->secondsSince1970()));
}

}  // namespace
}  // namespace vesperine
