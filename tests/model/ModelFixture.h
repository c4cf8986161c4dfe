#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "FakeGeocoder.h"
#include "ModelTestSupport.h"
#include "engine/ColorFilterState.h"
#include "engine/Settings.h"
#include "model/AppModel.h"

namespace vesperine::testing {

// 2024-01-15 00:00 UTC, night in Lisbon, and 13:00 UTC the same day.
constexpr double kLisbonNight = 1705276800.0;
constexpr double kLisbonDay = 1705323600.0;

// A model over in-memory settings and filter state, with a scripted geocoder.
class ModelFixture : public ::testing::Test {
  protected:
    ModelFixture() { qtApp(); }

    std::unique_ptr<AppModel> makeModel() {
        return std::make_unique<AppModel>(settings, filter, clock,
                                          std::make_unique<FakeGeocoder>(script));
    }

    void storePlace(double latitude, double longitude) {
        settings.setLatitude(latitude);
        settings.setLongitude(longitude);
    }

    RecordingStore settingsStore;
    Settings settings{settingsStore};
    InMemoryStore filterStore;
    NullDisplay display;
    ColorFilterState filter{filterStore, display};
    FixedClock clock{Instant::fromSecondsSince1970(kLisbonNight)};
    std::shared_ptr<FakeGeocoderScript> script = std::make_shared<FakeGeocoderScript>();
};

}  // namespace vesperine::testing
