#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/KeyValueStore.h"

namespace vesperine {

// The user's persisted configuration: a typed layer over one KeyValueStore,
// keeping no copy of any value. Readings mirror a defaults database:
// booleans are true for "true", "1" or "yes" in any case and false otherwise;
// numbers read 0 when the text is no number; a coordinate is absent only when
// its key is missing (a stored 0 is a place).
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
    void setAutomationEnabled(bool enabled);

    std::optional<double> latitude() const;  // degrees, north positive
    void setLatitude(std::optional<double> degrees);
    std::optional<double> longitude() const;  // degrees, east positive
    void setLongitude(std::optional<double> degrees);

    // Absent when missing or empty; writing absent or empty removes the key.
    std::optional<std::string> locationName() const;
    void setLocationName(std::optional<std::string_view> name);

    double sunriseOffsetMinutes() const;  // 0 when absent
    double sunsetOffsetMinutes() const;   // 0 when absent

    // Both coordinates present and finite, |latitude| <= 90, |longitude| <= 180.
    bool hasValidLocation() const;

  private:
    std::optional<double> readOptionalDouble(std::string_view key) const;
    double readDouble(std::string_view key) const;
    void writeOptionalDouble(std::string_view key, std::optional<double> value);

    KeyValueStore& store_;
};

// The boolean reading shared by both stores.
bool readsAsTrue(std::string_view text);

}  // namespace vesperine
