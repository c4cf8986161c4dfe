#include "engine/Settings.h"

#include <cmath>

#include "engine/KeyFileStore.h"
#include "engine/NumberText.h"
#include "engine/StorePaths.h"

namespace vesperine {
namespace {

std::string_view trimmedAscii(std::string_view text) {
    const auto isBlank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsIgnoringAsciiCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (asciiLower(a[i]) != asciiLower(b[i])) {
            return false;
        }
    }
    return true;
}

}  // namespace

bool readsAsTrue(std::string_view text) {
    const std::string_view word = trimmedAscii(text);
    return word == "1" || equalsIgnoringAsciiCase(word, "true") ||
           equalsIgnoringAsciiCase(word, "yes");
}

Settings& Settings::shared() {
    static KeyFileStore store(StorePaths::settingsFile(), "vesperine");
    static Settings settings(store);
    return settings;
}

bool Settings::automationEnabled() const {
    const auto text = store_.value(automationEnabledKey);
    return text && readsAsTrue(*text);
}

StoreOutcome Settings::setAutomationEnabled(bool enabled) {
    return store_.change(StoreChange{automationEnabledKey,
                                     enabled ? "true" : "false",
                                     [enabled](const std::optional<std::string>& stored) {
                                         return stored && readsAsTrue(*stored) == enabled;
                                     },
                                     {}});
}

std::optional<double> Settings::latitude() const {
    return readOptionalDouble(latitudeKey);
}

StoreOutcome Settings::setLatitude(std::optional<double> degrees) {
    return writeOptionalDouble(latitudeKey, degrees);
}

std::optional<double> Settings::longitude() const {
    return readOptionalDouble(longitudeKey);
}

StoreOutcome Settings::setLongitude(std::optional<double> degrees) {
    return writeOptionalDouble(longitudeKey, degrees);
}

std::optional<std::string> Settings::locationName() const {
    auto name = store_.value(locationNameKey);
    if (!name || name->empty()) {
        return std::nullopt;
    }
    return name;
}

StoreOutcome Settings::setLocationName(std::optional<std::string_view> name) {
    if (!name || name->empty()) {
        return store_.remove(locationNameKey);
    }
    return store_.setValue(locationNameKey, *name);
}

double Settings::sunriseOffsetMinutes() const {
    return readFiniteDouble(sunriseOffsetMinutesKey);
}

double Settings::sunsetOffsetMinutes() const {
    return readFiniteDouble(sunsetOffsetMinutesKey);
}

bool Settings::hasValidLocation() const {
    const auto lat = latitude();
    if (!lat || !std::isfinite(*lat) || std::fabs(*lat) > 90.0) {
        return false;
    }
    const auto lon = longitude();
    return lon && std::isfinite(*lon) && std::fabs(*lon) <= 180.0;
}

// A text that is no number is absent: in a file edited by hand "north" or a
// decimal comma is a typo, not the equator.
std::optional<double> Settings::readOptionalDouble(std::string_view key) const {
    const auto text = store_.value(key);
    return text ? NumberText::parse(trimmedAscii(*text)) : std::nullopt;
}

// "inf" or "nan" as an offset would move sunset out of the day altogether.
double Settings::readFiniteDouble(std::string_view key) const {
    const double value = readOptionalDouble(key).value_or(0.0);
    return std::isfinite(value) ? value : 0.0;
}

StoreOutcome Settings::writeOptionalDouble(std::string_view key, std::optional<double> value) {
    if (!value) {
        return store_.remove(key);
    }
    const double wanted = *value;
    const std::string text = NumberText::formatRoundTrip(wanted);
    return store_.change(StoreChange{key,
                                     text,
                                     [wanted](const std::optional<std::string>& stored) {
                                         const auto number =
                                             stored ? NumberText::parse(trimmedAscii(*stored))
                                                    : std::nullopt;
                                         return number == wanted;
                                     },
                                     {}});
}

}  // namespace vesperine
