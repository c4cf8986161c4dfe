#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/DisplayBackend.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "model/AppModel.h"
#include "model/CityGeocoder.h"

namespace vesperine::testing {

// Records what would have been put on screen.
class FakeDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool enabled, double strength) override {
        applies.push_back({enabled, strength});
        return outcome;
    }
    DisplayOutcome outcome = DisplayOutcome::reachedScreen();  // what every apply comes to
    std::string_view name() const override { return "recording"; }
    struct Apply {
        bool enabled;
        double strength;
    };
    std::vector<Apply> applies;
};

class FixedClock final : public Clock {
  public:
    Instant now() const override { return instant; }
    Instant instant = Instant::fromSecondsSince1970(1'750'000'000);
};

// Keeps every lookup pending until the test completes it.
class FakeGeocoder final : public CityGeocoder {
  public:
    void geocode(const QString& name, Completion completion) override {
        names.push_back(name);
        pending = std::move(completion);
    }
    void cancel() override {}

    // Runs the pending completion once with `placemarks` or `error`.
    void complete(std::optional<std::vector<Placemark>> placemarks,
                  std::optional<GeocodeError> error = std::nullopt) {
        auto completion = std::move(pending);
        pending = nullptr;
        if (completion) {
            completion(std::move(placemarks), error);
        }
    }

    std::vector<QString> names;
    Completion pending;
};

// A real model over stores held in memory.
struct ModelRig {
    InMemoryStore settingsStore;
    InMemoryStore filterStore;
    Settings settings{settingsStore};
    FakeDisplay display;
    ColorFilterState filter{filterStore, display};
    FixedClock clock;
    FakeGeocoder* geocoder = nullptr;  // owned by the model
    std::unique_ptr<AppModel> model;

    AppModel& make();
    // Notifications of `property` since the model was made or the last reset.
    int count(AppModel::Property property) const;
    void resetCounts() { notifications.clear(); }
    std::vector<AppModel::Property> notifications;
};

// Lays `widget` out at `width` logical pixels as a top-level widget that is
// shown off screen.
void showAtWidth(QWidget& widget, int width = 288);

// The widget drawn at `devicePixelRatio` on the panel's background.
QImage picture(QWidget& widget, qreal devicePixelRatio = 2);

// The colour of the logical pixel (x, y) of a picture made at its ratio.
QColor pixelAt(const QImage& image, qreal x, qreal y);

// Waits until every animation of every window has run to its end.
void settle();

// Within `tolerance` (0 to 255 per channel) of `expected`.
bool near(const QColor& actual, const QColor& expected, int tolerance = 2);

// The descendant of `root` of type T named `name`; a failure when there is none.
template <typename T>
T& child(QWidget& root, const char* name) {
    T* found = root.findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("no child named ") + name);
    }
    return *found;
}

// Every descendant of `root` of type T.
template <typename T>
std::vector<T*> all(QWidget& root) {
    const auto found = root.findChildren<T*>();
    return {found.begin(), found.end()};
}

}  // namespace vesperine::testing
