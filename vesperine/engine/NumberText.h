#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vesperine::NumberText {

// The number rule: the whole text is a C-locale strtod number (sign, decimal
// or hexadecimal significand, exponent, "inf", "infinity", "nan"). Empty text,
// leading white space (or NUL) and any trailing character make it no number.
// Magnitudes beyond the double range read as +-infinity.
std::optional<double> parse(std::string_view text);

// C "%g" with "." as the decimal separator, whatever the process locale.
std::string formatG(double value);

// The shortest text that reads back as exactly `value` ("38.72", "-9.14").
std::string formatRoundTrip(double value);

}  // namespace vesperine::NumberText
