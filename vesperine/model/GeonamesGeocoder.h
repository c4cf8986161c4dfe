#pragma once

#include <memory>

#include "model/CityGeocoder.h"

namespace vesperine {

// Finds cities in the GeoNames places that libgeonames ships (about 24,000
// cities of 15,000 people or more), on this machine only: nothing is sent
// anywhere, not even the name.
//
// The words typed must begin consecutive words of the city's name, ignoring
// case and accents ("sao paulo" finds "São Paulo", "new york" also "West New
// York"). Text after a comma narrows the
// choice: each further part must begin the city's state or country
// ("Springfield, Illinois"); a city found whose state and country match none
// of them is a partial result. Cities whose whole name is the text typed come
// first, then those whose words are all typed in full, then the rest; the more
// populous first within each group.
//
// The places are read once per process, on a worker thread, at the first
// lookup; every lookup runs on a worker thread too. Completions are delivered
// through the Qt event loop of the application's main thread, so a
// QCoreApplication must exist (without one a lookup fails at once).
class GeonamesGeocoder final : public CityGeocoder {
  public:
    GeonamesGeocoder();
    ~GeonamesGeocoder() override;
    GeonamesGeocoder(const GeonamesGeocoder&) = delete;
    GeonamesGeocoder& operator=(const GeonamesGeocoder&) = delete;

    void geocode(const QString& name, Completion completion) override;
    void cancel() override;

  private:
    struct Pending;
    std::shared_ptr<Pending> pending_;  // touched on the main thread only
};

}  // namespace vesperine
