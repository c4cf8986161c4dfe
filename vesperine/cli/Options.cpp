#include "cli/Options.h"

#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>

namespace vesperine::CLI {

OptionMap parseOptions(const std::vector<std::string>& arguments) {
    OptionMap options;
    std::size_t positional = 0;
    std::size_t i = 0;
    while (i < arguments.size()) {
        const std::string& argument = arguments[i];
        if (argument.rfind("--", 0) == 0) {
            std::string key = argument.substr(2);
            const bool hasValue = i + 1 < arguments.size() && arguments[i + 1].rfind("--", 0) != 0;
            if (hasValue) {
                options.insert_or_assign(std::move(key), arguments[i + 1]);
                i += 2;
            } else {
                options.insert_or_assign(std::move(key), std::string());
                i += 1;
            }
        } else {
            options.insert_or_assign("_pos" + std::to_string(positional), argument);
            ++positional;
            ++i;
        }
    }
    return options;
}

std::optional<bool> boolArg(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    if (lowered == "1" || lowered == "true" || lowered == "on" || lowered == "yes") {
        return true;
    }
    if (lowered == "0" || lowered == "false" || lowered == "off" || lowered == "no") {
        return false;
    }
    return std::nullopt;
}

namespace {

std::string formatZoneOffset(long offsetSeconds) {
    if (offsetSeconds == 0) {
        return "Z";
    }
    const char sign = offsetSeconds < 0 ? '-' : '+';
    const long magnitude = offsetSeconds < 0 ? -offsetSeconds : offsetSeconds;
    const long hours = magnitude / 3600;
    const long minutes = magnitude / 60 % 60;
    const long seconds = magnitude % 60;
    char buffer[32];
    if (seconds != 0) {
        std::snprintf(buffer, sizeof buffer, "%c%02ld:%02ld:%02ld", sign, hours, minutes, seconds);
    } else {
        std::snprintf(buffer, sizeof buffer, "%c%02ld:%02ld", sign, hours, minutes);
    }
    return buffer;
}

}  // namespace

std::string fmtDate(std::optional<Instant> instant) {
    if (!instant || !std::isfinite(instant->secondsSince1970())) {
        return std::string(absentDatePlaceholder);
    }
    const double wholeSeconds = std::floor(instant->secondsSince1970());
    // Outside this range the conversion to time_t itself would be undefined.
    constexpr double kLimit = 9.0e18;
    if (wholeSeconds < -kLimit || wholeSeconds > kLimit) {
        return std::string(absentDatePlaceholder);
    }
    const std::time_t seconds = static_cast<std::time_t>(wholeSeconds);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr) {
        return std::string(absentDatePlaceholder);
    }
    // The year of the era, as a date pattern's "yyyy" gives it: 1 BC is 0001.
    const long long year = static_cast<long long>(local.tm_year) + 1900;
    const long long yearOfEra = year > 0 ? year : 1 - year;
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d %02d:%02d:%02d ", yearOfEra,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return buffer + formatZoneOffset(local.tm_gmtoff);
}

}  // namespace vesperine::CLI
