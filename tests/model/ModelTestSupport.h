#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "FakeGeocoder.h"
#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/Settings.h"
#include "model/AppModel.h"

namespace vesperine::testing {

// 2024-01-15 00:00 UTC: night in Lisbon.
constexpr double kLisbonNight = 1705276800.0;

// The one application object of a test process, made on first use.
inline QCoreApplication& qtApp() {
    static int argc = 1;
    static char name[] = "vesperine-tests";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs the event loop until `done` holds (true) or `timeoutMs` passes (false).
inline bool runEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    qtApp();
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

inline void runEventsFor(int ms) {
    QElapsedTimer timer;
    timer.start();
    runEventsUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

class FixedClock final : public Clock {
  public:
    explicit FixedClock(double secondsSince1970)
        : now_(Instant::fromSecondsSince1970(secondsSince1970)) {}
    Instant now() const override { return now_; }

  private:
    Instant now_;
};

// An in-memory store that logs its writes as "key=value".
class RecordingStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        return store_.value(key);
    }
    void setValue(std::string_view key, std::string_view text) override {
        writes.push_back(std::string(key) + "=" + std::string(text));
        store_.setValue(key, text);
    }
    void remove(std::string_view key) override {
        writes.push_back("-" + std::string(key));
        store_.remove(key);
    }
    std::vector<std::string> writes;

  private:
    InMemoryStore store_;
};

// A model over in-memory settings and filter state with a scripted geocoder,
// and the properties it announces: each announcement is checked to be a
// willChange followed by a changed of the same property.
class ModelFixture : public ::testing::Test {
  protected:
    using P = AppModel::Property;

    ModelFixture() { qtApp(); }

    std::unique_ptr<AppModel> makeModel() {
        auto model = std::make_unique<AppModel>(settings, filter, clock,
                                                std::make_unique<FakeGeocoder>(script));
        QObject::connect(model.get(), &AppModel::willChange, &context,
                         [this](P p) { pendingWill.push_back(p); });
        QObject::connect(model.get(), &AppModel::changed, &context, [this](P p) {
            EXPECT_EQ(pendingWill, std::vector<P>{p});
            pendingWill.clear();
            changed.push_back(p);
        });
        return model;
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
    FixedClock clock{kLisbonNight};
    std::shared_ptr<FakeGeocoderScript> script = std::make_shared<FakeGeocoderScript>();
    std::vector<P> changed;  // in announcement order
    std::vector<P> pendingWill;
    QObject context;
};

}  // namespace vesperine::testing
