#pragma once

#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace vesperine {

struct Coordinate {
    double latitude = 0.0;   // degrees, north positive
    double longitude = 0.0;  // degrees, east positive
};

// One place a lookup found. A text is "present" when the optional holds a
// value, also an empty one.
struct Placemark {
    std::optional<QString> locality;
    std::optional<QString> name;
    std::optional<QString> administrativeArea;
    std::optional<QString> country;
    std::optional<Coordinate> location;
};

struct GeocodeError {
    enum class Domain { location, other };
    // Codes of the location domain.
    static constexpr int network = 2;
    static constexpr int noResult = 8;
    static constexpr int partialResult = 9;
    static constexpr int cancelled = 10;

    Domain domain = Domain::location;
    int code = 0;
};

// Turns a place name into placemarks. geocode() returns at once; its
// completion runs exactly once, later, on the main thread, with either a list
// (possibly empty) or an error. cancel() ends the pending lookup, whose
// completion still runs, with the error code `cancelled`. Once the geocoder
// is destroyed a pending completion may be dropped uncalled; whatever a
// completion touches is to be held weakly.
class CityGeocoder {
  public:
    using Completion = std::function<void(std::optional<std::vector<Placemark>> placemarks,
                                          std::optional<GeocodeError> error)>;

    virtual ~CityGeocoder() = default;
    virtual void geocode(const QString& name, Completion completion) = 0;
    virtual void cancel() = 0;
};

}  // namespace vesperine
