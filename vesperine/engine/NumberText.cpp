#include "engine/NumberText.h"

#include <locale.h>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>

namespace vesperine::NumberText {
namespace {

locale_t cLocale() {
    static const locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return locale;
}

bool isRejectedLeadingCharacter(char c) {
    return c == '\0' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == ' ';
}

}  // namespace

std::optional<double> parse(std::string_view text) {
    if (text.empty() || isRejectedLeadingCharacter(text.front())) {
        return std::nullopt;
    }
    // strtod needs a terminated string; an embedded NUL ends it early and the
    // length check below then rejects the text.
    const std::string terminated(text);
    char* end = nullptr;
    const double value = strtod_l(terminated.c_str(), &end, cLocale());
    if (end != terminated.c_str() + terminated.size()) {
        return std::nullopt;
    }
    return value;
}

std::string formatG(double value) {
    char buffer[64];
    const locale_t previous = uselocale(cLocale());
    std::snprintf(buffer, sizeof buffer, "%g", value);
    uselocale(previous);
    return buffer;
}

std::string formatRoundTrip(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

}  // namespace vesperine::NumberText
