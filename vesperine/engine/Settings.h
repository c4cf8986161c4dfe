#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/KeyValueStore.h"

namespace vesperine {

// The user's persisted configuration: a typed layer over one KeyValueStore,
// keeping no copy of any value. Readings mirror a defaults database, made
// safe for a file edited by hand: booleans are true for "true", "1" or "yes"
// in any case and false otherwise; a coordinate is absent when its key is
// missing or its text is no number ("north", "", "38,72"), and a stored 0 is a
// place; an offset that is no finite number reads 0. Writes report what they
// came to and leave the file alone when it already holds the value.
class Settings {
  public:
    static constexpr std::string_view automationEnabledKey = "automationEnabled";
    static constexpr std::string_view latitudeKey = "latitude";
    static constexpr std::string_view longitudeKey = "longitude";
    static constexpr std::string_view locationNameKey = "locationName";
    static constexpr std::string_view sunriseOffsetMinutesKey = "sunriseOffsetMinutes";
    static constexpr std::string_view sunsetOffsetMinutesKey = "sunsetOffsetMinutes";

    explicit Settings(KeyValueStore& store) : store_(store) {}

    // The user's settings file, group [vesperine]; made on first use.
    static Settings& shared();

    bool automationEnabled() const;
    StoreOutcome setAutomationEnabled(bool enabled);

    std::optional<double> latitude() const;  // degrees, north positive
    StoreOutcome setLatitude(std::optional<double> degrees);
    std::optional<double> longitude() const;  // degrees, east positive
    StoreOutcome setLongitude(std::optional<double> degrees);

    // Absent when missing or empty; writing absent or empty removes the key.
    std::optional<std::string> locationName() const;
    StoreOutcome setLocationName(std::optional<std::string_view> name);

    double sunriseOffsetMinutes() const;  // 0 when absent or not finite
    double sunsetOffsetMinutes() const;   // 0 when absent or not finite

    // Both coordinates present and finite, |latitude| <= 90, |longitude| <= 180.
    bool hasValidLocation() const;

  private:
    std::optional<double> readOptionalDouble(std::string_view key) const;
    double readFiniteDouble(std::string_view key) const;
    StoreOutcome writeOptionalDouble(std::string_view key, std::optional<double> value);

    KeyValueStore& store_;
};

// The boolean reading shared by both stores.
bool readsAsTrue(std::string_view text);

}  // namespace vesperine
