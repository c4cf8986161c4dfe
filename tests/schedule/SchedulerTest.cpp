#include "schedule/Scheduler.h"

#include <gtest/gtest.h>

#include <limits>

#include "support/Time.h"

namespace vesperine {
namespace {

using testing::utc;

constexpr double kLisbonLat = 38.7223;
constexpr double kLisbonLon = -9.1393;

struct DecisionCase {
    const char* now;
    double sunriseOffset;
    double sunsetOffset;
    bool wantOn;
    std::string_view reason;
};

void PrintTo(const DecisionCase& c, std::ostream* out) {
    *out << c.now << " offsets " << c.sunriseOffset << "/" << c.sunsetOffset;
}

class LisbonMidsummer : public ::testing::TestWithParam<DecisionCase> {};

TEST_P(LisbonMidsummer, DecidesFromTheAdjustedTimes) {
    const DecisionCase& c = GetParam();
    const auto d =
        Scheduler::decide(kLisbonLat, kLisbonLon, c.sunriseOffset, c.sunsetOffset, utc(c.now));
    EXPECT_EQ(d.wantOn, c.wantOn) << c.now;
    EXPECT_EQ(d.reason, c.reason) << c.now;
}

INSTANTIATE_TEST_SUITE_P(
    Times, LisbonMidsummer,
    ::testing::Values(
        DecisionCase{"2024-06-21T12:00:00Z", 0, 0, false, Scheduler::Reason::daylight},
        DecisionCase{"2024-06-21T20:05:00Z", 0, 0, true, Scheduler::Reason::afterSunset},
        DecisionCase{"2024-06-21T05:00:00Z", 0, 0, true, Scheduler::Reason::beforeSunrise},
        // The adjusted sunset is 20:34:43.2: still light half an hour after sunset.
        DecisionCase{"2024-06-21T20:30:00Z", 0, 30, false, Scheduler::Reason::daylight},
        // A sunrise offset of +30 keeps it dark until 05:42.
        DecisionCase{"2024-06-21T05:30:00Z", 30, 0, true, Scheduler::Reason::beforeSunrise},
        DecisionCase{"2024-06-21T05:30:00Z", -30, 0, false, Scheduler::Reason::daylight}));

TEST(Scheduler, AdjustedTimesAreTheSunTimesShiftedByTheOffsets) {
    const auto d =
        Scheduler::decide(kLisbonLat, kLisbonLon, 12.5, -30, utc("2024-06-21T12:00:00Z"));
    ASSERT_TRUE(d.adjustedSunrise && d.adjustedSunset);
    EXPECT_DOUBLE_EQ(d.adjustedSunrise->secondsSince1970(),
                     d.sun.sunrise->secondsSince1970() + 750.0);
    EXPECT_DOUBLE_EQ(d.adjustedSunset->secondsSince1970(),
                     d.sun.sunset->secondsSince1970() - 1800.0);
}

TEST(Scheduler, ExactlyAtTheAdjustedEventsTheStrictTestDecides) {
    const Instant noon = utc("2024-06-21T12:00:00Z");
    const auto reference = Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, noon);
    const Instant sunrise = *reference.sun.sunrise;
    const Instant sunset = *reference.sun.sunset;

    const auto atSunrise = Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, sunrise);
    EXPECT_FALSE(atSunrise.wantOn);
    EXPECT_EQ(atSunrise.reason, Scheduler::Reason::daylight);

    const auto atSunset = Scheduler::decide(kLisbonLat, kLisbonLon, 0, 0, sunset);
    EXPECT_TRUE(atSunset.wantOn);
    EXPECT_EQ(atSunset.reason, Scheduler::Reason::afterSunset);
}

TEST(Scheduler, OffsetsThatCloseTheDaylightLeaveOnlyDarkness) {
    // Equator at the equinox has about 12 hours of daylight.
    for (int hour = 0; hour < 24; ++hour) {
        char when[32];
        std::snprintf(when, sizeof when, "2024-03-20T%02d:00:00Z", hour);
        const auto d = Scheduler::decide(0.0, 0.0, 600, -600, utc(when));
        EXPECT_TRUE(d.wantOn) << when;
        EXPECT_NE(d.reason, Scheduler::Reason::daylight) << when;
    }
}

TEST(Scheduler, SunsetPushedPastTheDayChangeHasNoEffectAfterIt) {
    // Lisbon's day changes at 23:58:50.88 local mean solar time, 00:35:24 UTC.
    // A +300 minute sunset offset puts the adjusted sunset at 01:04 UTC of the
    // next date: it still counts before the change, and not after it.
    const auto before =
        Scheduler::decide(kLisbonLat, kLisbonLon, 0, 300, utc("2024-06-22T00:30:00Z"));
    EXPECT_FALSE(before.wantOn);
    EXPECT_EQ(before.reason, Scheduler::Reason::daylight);

    const auto after =
        Scheduler::decide(kLisbonLat, kLisbonLon, 0, 300, utc("2024-06-22T00:40:00Z"));
    EXPECT_TRUE(after.wantOn);
    EXPECT_EQ(after.reason, Scheduler::Reason::beforeSunrise);
}

TEST(Scheduler, PolarOutcomesHaveFixedReasonsAndNoTimes) {
    const auto day = Scheduler::decide(69.6492, 18.9553, 0, 0, utc("2024-06-21T12:00:00Z"));
    EXPECT_EQ(day.sun.kind, SunTimes::Kind::polarDay);
    EXPECT_FALSE(day.wantOn);
    EXPECT_EQ(day.reason, "polar day (sun never sets) \u2014 treating as light");
    EXPECT_FALSE(day.adjustedSunrise || day.adjustedSunset);

    const auto night = Scheduler::decide(69.6492, 18.9553, 0, 0, utc("2024-12-21T12:00:00Z"));
    EXPECT_EQ(night.sun.kind, SunTimes::Kind::polarNight);
    EXPECT_TRUE(night.wantOn);
    EXPECT_EQ(night.reason, "polar night (sun never rises) \u2014 treating as dark");
    EXPECT_FALSE(night.adjustedSunrise || night.adjustedSunset);
}

TEST(Scheduler, ExtremeInputsStillDecide) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const Instant now = utc("2024-06-21T12:00:00Z");
    const double inputs[][4] = {{inf, 0, 0, 0},    {nan, nan, 0, 0},      {0, -inf, 0, 0},
                                {95, 200, 0, 0},   {-1e300, 1e300, 0, 0}, {38, -9, 1e308, -1e308},
                                {38, -9, nan, inf}};
    for (const auto& in : inputs) {
        const auto d = Scheduler::decide(in[0], in[1], in[2], in[3], now);
        EXPECT_FALSE(d.reason.empty());
        EXPECT_EQ(d.adjustedSunrise.has_value(), d.sun.kind == SunTimes::Kind::normal);
    }
}

}  // namespace
}  // namespace vesperine
