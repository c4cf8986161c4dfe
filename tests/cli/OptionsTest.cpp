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

TEST(ParseOptions, BuildsTheOptionMap) {
    const std::pair<std::vector<std::string>, OptionMap> cases[] = {
        {{}, {}},
        {{"--apply"}, {{"apply", ""}}},
        {{"a", "--x", "1", "b"}, {{"_pos0", "a"}, {"x", "1"}, {"_pos1", "b"}}},
        {{"--x", "1", "--x", "2"}, {{"x", "2"}}},
        {{"--lon", "-9.1"}, {{"lon", "-9.1"}}},
        {{"--", "v"}, {{"", "v"}}},
        {{"---x"}, {{"-x", ""}}},
        // A value never begins with "--": the latitude gets the empty value.
        {{"--lat", "--lon", "5"}, {{"lat", ""}, {"lon", "5"}}},
        {{"-5", "--a", "-b", "c"}, {{"_pos0", "-5"}, {"a", "-b"}, {"_pos1", "c"}}},
    };
    for (const auto& [arguments, expected] : cases) {
        EXPECT_EQ(CLI::parseOptions(arguments), expected) << ::testing::PrintToString(arguments);
    }
    // Positional keys count on past one digit.
    std::vector<std::string> eleven(11, "p");
    eleven.back() = "last";
    const OptionMap many = CLI::parseOptions(eleven);
    EXPECT_EQ(many.size(), 11u);
    EXPECT_EQ(many.at("_pos10"), "last");
}

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
    const double inf = std::numeric_limits<double>::infinity();
    const std::pair<const char*, double> numbers[] = {
        {"0.5", 0.5},         {"+.5", 0.5},   {"5.", 5.0},    {"1e-1", 0.1}, {"0x1p-1", 0.5},
        {"-9.1393", -9.1393}, {"-0", -0.0},   {"1E2", 100.0}, {"inf", inf},  {"INF", inf},
        {"Infinity", inf},    {"-inf", -inf}, {"1e999", inf}};
    for (const auto& [text, value] : numbers) {
        EXPECT_EQ(NumberText::parse(text), std::optional<double>(value)) << text;
    }
    for (const char* text : {"nan", "NaN", "NAN", "-nan"}) {
        const auto parsed = NumberText::parse(text);
        EXPECT_TRUE(parsed && std::isnan(*parsed)) << text;
    }
    using namespace std::string_view_literals;
    for (const std::string_view text :
         {" 0.5"sv, "0.5 "sv, "0,5"sv, "1.2.3"sv, "--1"sv, ""sv, "\t1"sv, "\n1"sv, "1\n"sv, "abc"sv,
          "."sv, "+"sv, "e5"sv, "0x"sv, "1\0002"sv, "\0001"sv}) {
        EXPECT_EQ(NumberText::parse(text), std::nullopt) << '"' << text << '"';
    }
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

// The date formatter in the time zone `zone`.
std::string inZone(const char* zone, std::optional<Instant> instant) {
    setenv("TZ", zone, 1);
    tzset();
    return CLI::fmtDate(instant);
}

TEST(FmtDate, WritesTheLocalTimeWithItsOffsetOrAPlaceholder) {
    const Instant solstice = testing::utc("2024-06-21T05:12:00.9Z");
    const auto at = [](double seconds) { return Instant::fromSecondsSince1970(seconds); };
    const double inf = std::numeric_limits<double>::infinity();
    const std::string dash = "\xe2\x80\x94";
    const std::tuple<const char*, std::optional<Instant>, std::string> cases[] = {
        {"UTC0", solstice, "2024-06-21 05:12:00 Z"},
        {"EST5", solstice, "2024-06-21 00:12:00 -05:00"},
        {"IST-5:30", solstice, "2024-06-21 10:42:00 +05:30"},
        // An offset with seconds, like a local mean time zone.
        {"LMT+0:36:45", solstice, "2024-06-21 04:35:15 -00:36:45"},
        // Truncated toward the earlier second.
        {"UTC0", at(59.999), "1970-01-01 00:00:59 Z"},
        {"UTC0", at(-0.5), "1969-12-31 23:59:59 Z"},
        // Far years: 11970, and 1 BC (year of the era 1).
        {"UTC0", at(315569520000.0), "11970-01-01 00:00:00 Z"},
        {"UTC0", testing::utc("0000-06-01T00:00:00Z"), "0001-06-01 00:00:00 Z"},
        {"UTC0", std::nullopt, dash},
        {"UTC0", at(inf), dash},
        {"UTC0", at(-inf), dash},
        {"UTC0", at(std::nan("")), dash},
        {"UTC0", at(1e300), dash},
        {"UTC0", at(1e18), dash},
    };
    for (const auto& [zone, instant, text] : cases) {
        EXPECT_EQ(inZone(zone, instant), text) << zone << " " << text;
    }
}

}  // namespace
}  // namespace vesperine
