#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/Settings.h"
#include "model/CityGeocoder.h"

namespace vesperine {

// The one observable object behind the panel. It mirrors the live filter and
// the stored settings and holds the editing state of the location controls.
//
// Published properties: every setter emits willChange(property) before it
// stores the value and changed(property) after, on every assignment, equal
// value or not; the model never compares before assigning.
class AppModel : public QObject {
    Q_OBJECT

  public:
    enum class Property {
        filterOn,
        strength,
        automationEnabled,
        latitudeText,
        longitudeText,
        cityText,
        geocodeMessage,
        lastGeocodeOK,
        isGeocoding,
        place,
        statusText,
        screenNotice,
    };
    Q_ENUM(Property)

    // Reads the live state and the settings, then refreshes itself. The model
    // owns the geocoder; the settings, the filter and the clock outlive it.
    AppModel(Settings& settings, ColorFilterState& filter, const Clock& clock,
             std::unique_ptr<CityGeocoder> geocoder, QObject* parent = nullptr);
    ~AppModel() override;

    bool filterOn() const { return filterOn_; }
    double strength() const { return strength_; }
    bool automationEnabled() const { return automationEnabled_; }
    const QString& latitudeText() const { return latitudeText_; }
    const QString& longitudeText() const { return longitudeText_; }
    const QString& cityText() const { return cityText_; }
    const QString& geocodeMessage() const { return geocodeMessage_; }
    bool lastGeocodeOK() const { return lastGeocodeOK_; }
    bool isGeocoding() const { return isGeocoding_; }
    const QString& statusText() const { return statusText_; }
    // One line in the program's voice while the last apply could not reach
    // the screen; empty otherwise.
    const QString& screenNotice() const { return screenNotice_; }

    void setFilterOn(bool value);
    void setStrength(double value);
    void setAutomationEnabled(bool value);
    void setLatitudeText(const QString& value);
    void setLongitudeText(const QString& value);
    void setCityText(const QString& value);
    void setGeocodeMessage(const QString& value);
    void setLastGeocodeOK(bool value);
    void setIsGeocoding(bool value);
    void setStatusText(const QString& value);
    void setScreenNotice(const QString& value);

    // Keeps screenNotice in step with what an apply came to: the reason while
    // the screen cannot be reached, nothing once it was reached again. Only a
    // change is published, so the panel shows the fact once.
    void noteDisplay(const DisplayOutcome& outcome);
    // The same for a change of the filter or a setting: a write that could not
    // be stored is said first ("Can’t save: " and the store's reason).
    void noteChange(const FilterChange& change);
    void noteStored(const StoreOutcome& outcome) {
        if (!outcome.stored) {
            noteChange({outcome, {}});
        }
    }

    // From the settings as the last refresh read them, never from the text
    // fields: one reading of the file per refresh, whatever the views redraw.
    bool hasLocation() const { return hasLocation_; }
    const QString& locationSummary() const {
        return locationSummary_;
    }  // "38.7, -9.1" or "Not set"
    // The stored place's name when it has one, else locationSummary().
    const QString& place() const { return place_; }

    // Also puts a drag's value back while a drag is under way, so that nothing
    // read from the store pulls the thumb back to an older strength.
    void refresh();
    void setAutomation(bool enabled);
    // The run/pause control: switches the live filter and refreshes.
    void setRunning(bool on);
    // Puts the stored filter on screen again (wake, a new monitor, another
    // process's write) and refreshes; during a strength drag it waits for
    // the drag's own store.
    void showStoredState();

    // The strength slider while it moves: the value is published at once,
    // previewed at most once a frame (or the display's preview interval, if
    // longer) and stored at most every strengthStoreInterval, neither waiting
    // for the screen; finishStrength() stores and applies the last value
    // through the filter, so screen and store agree afterwards.
    void moveStrength(double value);
    void finishStrength();
    bool strengthMoving() const { return strengthMoving_; }
    static constexpr int strengthFrameMilliseconds = 16;
    static constexpr int strengthStoreIntervalMilliseconds = 250;

    // Where a moving strength is previewed without being stored: the display
    // the filter itself applies through. Without one, the periodic stores put
    // the value on screen.
    void setPreviewDisplay(DisplayBackend* display) { previewDisplay_ = display; }
    // Stores each typed coordinate that is a number within range, then
    // reconciles and refreshes; shows no message. When that moved the stored
    // place, the stored name and the city text are cleared: they named the
    // old place.
    void applyLocation();
    // Starts a lookup of the trimmed cityText (cancelling this model's earlier
    // one) and returns at once; the outcome lands in geocodeMessage. Without a
    // geocoder the lookup fails at once.
    void resolveCity();

    // Whether applyLocation() would store `text` as a coordinate of at most
    // `limitDegrees` in magnitude (90 for a latitude, 180 for a longitude).
    static bool storableCoordinate(const QString& text, double limitDegrees);

    const Clock& clock() const { return clock_; }

  Q_SIGNALS:
    void willChange(vesperine::AppModel::Property property);
    void changed(vesperine::AppModel::Property property);

  private:
    void previewStrength();
    void storeStrength();
    // A reconcile pass after a change of the settings, then a refresh.
    void runPass();
    // The place's fields the user has not edited since the model filled them
    // follow the stored place.
    void followStoredPlace(const std::optional<double>& latitude,
                           const std::optional<double>& longitude,
                           const std::optional<std::string>& name);

    // One published assignment: observers hear of it before and after the store.
    template <typename T>
    void publish(Property property, T& field, const T& value) {
        Q_EMIT willChange(property);
        field = value;
        Q_EMIT changed(property);
    }
    // The completion of a lookup started for `name` (already trimmed).
    void finishLookup(const QString& name, const std::optional<std::vector<Placemark>>& placemarks,
                      const std::optional<GeocodeError>& error);

    Settings& settings_;
    ColorFilterState& filter_;
    const Clock& clock_;

    bool filterOn_ = false;
    double strength_ = 0.0;
    bool automationEnabled_ = false;
    QString latitudeText_;
    QString longitudeText_;
    QString cityText_;
    // What the model last filled those with; a field that still shows it stands
    // for the stored value, which may hold more digits than it shows.
    QString filledLatitudeText_;
    QString filledLongitudeText_;
    QString filledCityText_;
    QString geocodeMessage_;
    bool lastGeocodeOK_ = true;
    bool isGeocoding_ = false;
    QString statusText_;
    QString screenNotice_;
    bool hasLocation_ = false;
    QString locationSummary_;
    QString place_;
    std::unique_ptr<CityGeocoder> geocoder_;

    DisplayBackend* previewDisplay_ = nullptr;
    bool strengthMoving_ = false;
    double movingStrength_ = 0.0;
    QTimer strengthFrame_;
    QTimer strengthStore_;
};

}  // namespace vesperine
