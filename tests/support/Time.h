#pragma once

#include <cstdio>
#include <ctime>
#include <string>

#include "schedule/Instant.h"

namespace vesperine::testing {

// "2024-06-21T05:12:00.9Z" (UTC, optional fraction) as an Instant.
inline Instant utc(const std::string& text) {
    std::tm parts{};
    double seconds = 0;
    std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%lfZ", &parts.tm_year, &parts.tm_mon, &parts.tm_mday,
                &parts.tm_hour, &parts.tm_min, &seconds);
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    parts.tm_sec = 0;
    return Instant::fromSecondsSince1970(static_cast<double>(timegm(&parts)) + seconds);
}

}  // namespace vesperine::testing
