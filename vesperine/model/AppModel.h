#pragma once

#include <QObject>
#include <QString>

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

    // Derived on every read from the settings, never from the text fields.
    bool hasLocation() const;
    QString locationSummary() const;  // "38.7223, -9.1393" or "Not set"

    void refresh();
    void setAutomation(bool enabled);
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

    Settings& settings() const { return settings_; }
    ColorFilterState& filter() const { return filter_; }
    const Clock& clock() const { return clock_; }

  Q_SIGNALS:
    void willChange(vesperine::AppModel::Property property);
    void changed(vesperine::AppModel::Property property);

  private:
    QString makeStatus() const;

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
    QString geocodeMessage_;
    bool lastGeocodeOK_ = true;
    bool isGeocoding_ = false;
    QString statusText_;
    QString screenNotice_;
    std::unique_ptr<CityGeocoder> geocoder_;
};

}  // namespace vesperine
