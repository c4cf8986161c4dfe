#include "cli/Options.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <limits>

#include "engine/NumberText.h"
#include "support/Subprocess.h"
#include "support/TempDir.h"
#include "support/Time.h"

namespace vesperine {
namespace {

using CLI::OptionMap;

struct ParseCase {
    std::vector<std::string> arguments;
    OptionMap expected;
};

void PrintTo(const ParseCase& c, std::ostream* out) {
    *out << "[";
    for (const auto& argument : c.arguments) {
        *out << " '" << argument << "'";
    }
    *out << " ]";
}

class ParseOptions : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseOptions, BuildsTheOptionMap) {
    EXPECT_EQ(CLI::parseOptions(GetParam().arguments), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseOptions,
    ::testing::Values(
        ParseCase{{}, {}}, ParseCase{{"--apply"}, {{"apply", ""}}},
        ParseCase{{"a", "--x", "1", "b"}, {{"_pos0", "a"}, {"x", "1"}, {"_pos1", "b"}}},
        ParseCase{{"--x", "1", "--x", "2"}, {{"x", "2"}}},
        ParseCase{{"--lon", "-9.1"}, {{"lon", "-9.1"}}}, ParseCase{{"--", "v"}, {{"", "v"}}},
        ParseCase{{"---x"}, {{"-x", ""}}},
        // A value never begins with "--": the latitude gets the empty value.
        ParseCase{{"--lat", "--lon", "5"}, {{"lat", ""}, {"lon", "5"}}},
        ParseCase{{"-5", "--a", "-b", "c"}, {{"_pos0", "-5"}, {"a", "-b"}, {"_pos1", "c"}}},
        ParseCase{{"x", "y", "z", "w", "v", "u", "t", "s", "r", "q", "p"},
                  {{"_pos0", "x"},
                   {"_pos1", "y"},
                   {"_pos2", "z"},
                   {"_pos3", "w"},
                   {"_pos4", "v"},
                   {"_pos5", "u"},
                   {"_pos6", "t"},
                   {"_pos7", "s"},
                   {"_pos8", "r"},
                   {"_pos9", "q"},
                   {"_pos10", "p"}}}));

TEST(BoolArg, KnowsEightWordsInAnyCaseAndNothingElse) {
    for (const char* word : {"1", "true", "TRUE", "on", "On", "yes", "Yes", "YES"}) {
        EXPECT_EQ(CLI::boolArg(word), std::optional<bool>(true)) << word;
    }
    for (const char* word : {"0", "false", "False", "off", "Off", "no", "NO"}) {
        EXPECT_EQ(CLI::boolArg(word), std::optional<bool>(false)) << word;
    }
    for (const char* word : {" yes", "yes ", "y", "2", "", "01", "tru", "n\xc3\xb6"}) {
        EXPECT_EQ(CLI::boolArg(word), std::nullopt) << '"' << word << '"';
    }
}

TEST(NumberRule, AcceptsWholeStrtodNumbersOnly) {
    const std::pair<const char*, double> numbers[] = {
        {"0.5", 0.5},    {"+.5", 0.5},         {"5.", 5.0},  {"1e-1", 0.1},
        {"0x1p-1", 0.5}, {"-9.1393", -9.1393}, {"-0", -0.0}, {"1E2", 100.0}};
    for (const auto& [text, value] : numbers) {
        const auto parsed = NumberText::parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_DOUBLE_EQ(*parsed, value) << text;
    }
    for (const char* text : {"inf", "INF", "Infinity", "-inf"}) {
        const auto parsed = NumberText::parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_TRUE(std::isinf(*parsed)) << text;
    }
    for (const char* text : {"nan", "NaN", "NAN", "-nan"}) {
        const auto parsed = NumberText::parse(text);
        ASSERT_TRUE(parsed) << text;
        EXPECT_TRUE(std::isnan(*parsed)) << text;
    }
    EXPECT_TRUE(std::isinf(*NumberText::parse("1e999")));
    for (const char* text : {" 0.5", "0.5 ", "0,5", "1.2.3", "--1", "", "\t1", "\n1", "1\n", "abc",
                             ".", "+", "e5", "0x"}) {
        EXPECT_EQ(NumberText::parse(text), std::nullopt) << '"' << text << '"';
    }
    EXPECT_EQ(NumberText::parse(std::string_view("1\0"
                                                 "2",
                                                 3)),
              std::nullopt);
    EXPECT_EQ(NumberText::parse(std::string_view("\0"
                                                 "1",
                                                 2)),
              std::nullopt);
}

TEST(NumberRule, IgnoresTheProcessLocale) {
    // A locale with a decimal comma, compiled into a private folder.
    testing::TempDir locales;
    const auto built = testing::runProcess(
        {"localedef", "-i", "de_DE", "-f", "UTF-8", locales.file("de_DE.UTF-8")});
    setenv("LOCPATH", locales.path().c_str(), 1);
    if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr) {
        unsetenv("LOCPATH");
        GTEST_SKIP() << "cannot build a decimal-comma locale: " << built.err;
    }
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(NumberText::parse("0.5"), std::optional<double>(0.5));
    EXPECT_EQ(NumberText::parse("0,5"), std::nullopt);
    EXPECT_EQ(NumberText::formatG(38.722312), "38.7223");
    std::setlocale(LC_ALL, "C");
    unsetenv("LOCPATH");
}

TEST(FormatG, IsTheCConversion) {
    EXPECT_EQ(NumberText::formatG(38.722312), "38.7223");
    EXPECT_EQ(NumberText::formatG(-9.1393), "-9.1393");
    EXPECT_EQ(NumberText::formatG(0.0), "0");
    EXPECT_EQ(NumberText::formatG(1234567.0), "1.23457e+06");
    EXPECT_EQ(NumberText::formatG(0.00001), "1e-05");
    EXPECT_EQ(NumberText::formatG(90.0), "90");
}

// Runs the date formatter in a given TZ, restoring the previous one.
class FmtDate : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* tz = std::getenv("TZ");
        saved_ = tz ? std::optional<std::string>(tz) : std::nullopt;
    }
    void TearDown() override {
        if (saved_) {
            setenv("TZ", saved_->c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }
    static std::string in(const char* zone, std::optional<Instant> instant) {
        setenv("TZ", zone, 1);
        tzset();
        return CLI::fmtDate(instant);
    }

  private:
    std::optional<std::string> saved_;
};

TEST_F(FmtDate, WritesTheLocalTimeWithItsOffset) {
    const Instant instant = testing::utc("2024-06-21T05:12:00.9Z");
    EXPECT_EQ(in("UTC0", instant), "2024-06-21 05:12:00 Z");
    EXPECT_EQ(in("CET-1", instant), "2024-06-21 06:12:00 +01:00");
    EXPECT_EQ(in("EST5", instant), "2024-06-21 00:12:00 -05:00");
    EXPECT_EQ(in("IST-5:30", instant), "2024-06-21 10:42:00 +05:30");
    // An offset with seconds, like a local mean time zone.
    EXPECT_EQ(in("LMT+0:36:45", instant), "2024-06-21 04:35:15 -00:36:45");
}

TEST_F(FmtDate, TruncatesTowardTheEarlierSecond) {
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(59.999)), "1970-01-01 00:00:59 Z");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(-0.5)), "1969-12-31 23:59:59 Z");
}

TEST_F(FmtDate, PlaceholderForAbsentAndUnprintableInstants) {
    const double inf = std::numeric_limits<double>::infinity();
    EXPECT_EQ(in("UTC0", std::nullopt), "\xe2\x80\x94");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(inf)), "\xe2\x80\x94");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(-inf)), "\xe2\x80\x94");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(std::nan(""))), "\xe2\x80\x94");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(1e300)), "\xe2\x80\x94");
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(1e18)), "\xe2\x80\x94");
}

TEST_F(FmtDate, FarYearsStillPrint) {
    // Year 11970 and 1 BC (year of the era 1).
    EXPECT_EQ(in("UTC0", Instant::fromSecondsSince1970(315569520000.0)), "11970-01-01 00:00:00 Z");
    EXPECT_EQ(in("UTC0", testing::utc("0000-06-01T00:00:00Z")).substr(0, 4), "0001");
}

}  // namespace
}  // namespace vesperine
