#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "model/AppModel.h"
#include "support/Fakes.h"
#include "support/Time.h"

namespace vesperine::testing {

// The one application object of a test process, made on first use.
inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "vesperine-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

struct FakeReply {
    std::optional<std::vector<Placemark>> placemarks;
    std::optional<GeocodeError> error;
};

inline FakeReply found(std::vector<Placemark> placemarks) {
    return {std::move(placemarks), std::nullopt};
}

inline FakeReply failed(GeocodeError::Domain domain, int code) {
    return {std::nullopt, GeocodeError{domain, code}};
}

inline Placemark city(const QString& locality, const QString& country, double latitude,
                      double longitude) {
    return {locality, std::nullopt, std::nullopt, country, Coordinate{latitude, longitude}};
}

// What the fake geocoders of a test were asked. The test runs each completion
// itself, in the order it chooses, so never inside geocode() or cancel(); it
// holds the script, so a lookup can complete after the geocoder and its model
// are gone, as a late platform completion would.
struct FakeGeocoderScript {
    std::vector<std::string> calls;  // "geocode:<name>" and "cancel", in order
    std::vector<CityGeocoder::Completion> lookups;

    void answer(std::size_t lookup, const FakeReply& reply) {
        lookups.at(lookup)(reply.placemarks, reply.error);
    }
    void answerLast(const FakeReply& reply) { answer(lookups.size() - 1, reply); }
};

class FakeGeocoder final : public CityGeocoder {
  public:
    explicit FakeGeocoder(std::shared_ptr<FakeGeocoderScript> script)
        : script_(std::move(script)) {}
    void geocode(const QString& name, Completion completion) override {
        script_->calls.push_back("geocode:" + name.toStdString());
        script_->lookups.push_back(std::move(completion));
    }
    void cancel() override { script_->calls.push_back("cancel"); }

  private:
    std::shared_ptr<FakeGeocoderScript> script_;
};

// A model over in-memory settings and filter state with a scripted geocoder; each
// announcement is checked to be a willChange then a changed of the same property.
// make() keeps the model, previewing on the display as the panel's does.
struct ModelParts {
    using P = AppModel::Property;

    std::unique_ptr<AppModel> makeModel() {
        auto made = std::make_unique<AppModel>(settings, filter, clock,
                                               std::make_unique<FakeGeocoder>(script));
        QObject::connect(made.get(), &AppModel::willChange, &context,
                         [this](P p) { pendingWill.push_back(p); });
        QObject::connect(made.get(), &AppModel::changed, &context, [this](P p) {
            EXPECT_EQ(pendingWill, std::vector<P>{p});
            pendingWill.clear();
            changed.push_back(p);
        });
        return made;
    }
    AppModel& make() {
        model = makeModel();
        model->setPreviewDisplay(&display);
        return *model;
    }
    long count(P property) const { return std::count(changed.begin(), changed.end(), property); }

    void storePlace(double latitude, double longitude) {
        settings.setLatitude(latitude);
        settings.setLongitude(longitude);
    }

    RecordingStore settingsStore;
    Settings settings{settingsStore};
    RecordingStore filterStore;
    RecordingDisplay display;
    ColorFilterState filter{filterStore, display};
    FixedClock clock{utc("2024-01-15T00:00:00Z")};  // night in Lisbon
    std::shared_ptr<FakeGeocoderScript> script = std::make_shared<FakeGeocoderScript>();
    std::vector<P> changed;  // in announcement order
    std::vector<P> pendingWill;
    QObject context;
    std::unique_ptr<AppModel> model;
};

class ModelFixture : public ::testing::Test, public ModelParts {
  protected:
    ModelFixture() { qtApp(); }
};

}  // namespace vesperine::testing
