#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "schedule/Instant.h"

namespace vesperine::CLI {

// Option name (without "--") or "_pos<N>" for the N-th positional argument,
// to the argument text unchanged; a flag without a value maps to "".
using OptionMap = std::map<std::string, std::string, std::less<>>;

// Arguments after the command word, left to right. A word beginning with "--"
// is an option and takes the next word as its value unless that one begins
// with "--" too; every other word is a value or a positional argument.
OptionMap parseOptions(const std::vector<std::string>& arguments);

// "1", "true", "on", "yes" are true; "0", "false", "off", "no" are false, in
// any letter case and without trimming; anything else is no value.
std::optional<bool> boolArg(std::string_view text);

// "yyyy-MM-dd HH:mm:ss ZZZZZ" in the process's local time zone (TZ honoured),
// seconds truncated toward the earlier second. Absent, non-finite and
// unconvertible instants print as the placeholder "\u2014".
std::string fmtDate(std::optional<Instant> instant);

inline constexpr std::string_view absentDatePlaceholder = "\u2014";

}  // namespace vesperine::CLI
