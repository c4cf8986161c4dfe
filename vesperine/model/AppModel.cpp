#include "model/AppModel.h"

#include <QPointer>
#include <QStringList>

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/NumberText.h"
#include "engine/ReconcileEngine.h"

namespace vesperine {
namespace {

const QString kNotSet = QStringLiteral("Not set");
const QString kTypeCityName = QStringLiteral("Type a city name, e.g. Lisbon.");
const QString kResolving = QStringLiteral("Resolving…");
const QString kNoNetwork = QStringLiteral("No network. Connect and retry, or set lat/long below.");
const QString kPlaceNotFound =
    QStringLiteral("Couldn’t find that place. Try a different name or set lat/long.");
const QString kLookupFailed =
    QStringLiteral("Location lookup failed. Try again, or set lat/long below.");

// Space separators (Zs) and TAB.
bool isWhitespace(QChar c) {
    return c.category() == QChar::Separator_Space || c == u'\t';
}

// All separators (Z), the whitespace above, U+000A..U+000D and U+0085.
bool isWhitespaceOrNewline(QChar c) {
    switch (c.category()) {
        case QChar::Separator_Space:
        case QChar::Separator_Line:
        case QChar::Separator_Paragraph:
            return true;
        default:
            break;
    }
    const char16_t u = c.unicode();
    return u == u'\t' || (u >= 0x0A && u <= 0x0D) || u == 0x85;
}

template <typename Predicate>
QString trimmed(const QString& text, Predicate isBlank) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(text[end - 1])) {
        --end;
    }
    return text.mid(begin, end - begin);
}

QString formatG(double value) {
    return QString::fromStdString(NumberText::formatG(value));
}

QString formatOptional(std::optional<double> value) {
    return value ? formatG(*value) : QString();
}

// A typed coordinate: blanks around it are ignored, the rest must be a number.
std::optional<double> parseCoordinate(const QString& text) {
    return NumberText::parse(trimmed(text, isWhitespace).toStdString());
}

// A pasted page of text would make the message, and the panel, taller than the
// screen: the name is cut after 60 characters.
QString notFoundMessage(const QString& name) {
    constexpr qsizetype kShownCharacters = 60;
    const QString shown = name.size() <= kShownCharacters
                              ? name
                              : name.left(kShownCharacters).trimmed() + QChar(0x2026);
    return QStringLiteral("Couldn’t find “") + shown +
           QStringLiteral("”. Check the spelling or set lat/long below.");
}

// The name shown and stored for a found place: its most specific name, then
// its country. An empty locality still wins over the name and is then dropped.
QString placeName(const Placemark& placemark, const QString& fallback) {
    std::optional<QString> primary = placemark.locality;
    if (!primary) {
        primary = placemark.name;
    }
    if (!primary) {
        primary = placemark.administrativeArea;
    }
    QStringList parts;
    for (const auto& part : {primary, placemark.country}) {
        if (part && !part->isEmpty()) {
            parts << *part;
        }
    }
    return parts.isEmpty() ? fallback : parts.join(QStringLiteral(", "));
}

// Empty for a cancelled lookup, which then leaves the message alone.
QString friendlyGeocodeError(const GeocodeError& error) {
    if (error.domain == GeocodeError::Domain::location) {
        switch (error.code) {
            case GeocodeError::network:
                return kNoNetwork;
            case GeocodeError::noResult:
            case GeocodeError::partialResult:
                return kPlaceNotFound;
            case GeocodeError::cancelled:
                return QString();
            default:
                break;
        }
    }
    return kLookupFailed;
}

}  // namespace

AppModel::AppModel(Settings& settings, ColorFilterState& filter, const Clock& clock,
                   std::unique_ptr<CityGeocoder> geocoder, QObject* parent)
    : QObject(parent), settings_(settings), filter_(filter), clock_(clock) {
    setFilterOn(filter_.enabled());
    setStrength(filter_.strength());
    setAutomationEnabled(settings_.automationEnabled());
    setGeocodeMessage(QString());
    setLastGeocodeOK(true);
    setIsGeocoding(false);
    setStatusText(QString());
    geocoder_ = std::move(geocoder);
    // Single-shot timers on the model's thread: a burst of moves becomes one
    // apply per frame and one store per interval.
    strengthFrame_.setSingleShot(true);
    strengthFrame_.setInterval(strengthFrameMilliseconds);
    strengthFrame_.setTimerType(Qt::PreciseTimer);
    connect(&strengthFrame_, &QTimer::timeout, this, &AppModel::previewStrength);
    strengthStore_.setSingleShot(true);
    strengthStore_.setInterval(strengthStoreIntervalMilliseconds);
    connect(&strengthStore_, &QTimer::timeout, this, &AppModel::storeStrength);
    refresh();
}

AppModel::~AppModel() = default;

void AppModel::setFilterOn(bool value) {
    publish(Property::filterOn, filterOn_, value);
}

void AppModel::setStrength(double value) {
    publish(Property::strength, strength_, value);
}

void AppModel::setAutomationEnabled(bool value) {
    publish(Property::automationEnabled, automationEnabled_, value);
}

void AppModel::setLatitudeText(const QString& value) {
    publish(Property::latitudeText, latitudeText_, value);
}

void AppModel::setLongitudeText(const QString& value) {
    publish(Property::longitudeText, longitudeText_, value);
}

void AppModel::setCityText(const QString& value) {
    publish(Property::cityText, cityText_, value);
}

void AppModel::setGeocodeMessage(const QString& value) {
    publish(Property::geocodeMessage, geocodeMessage_, value);
}

void AppModel::setLastGeocodeOK(bool value) {
    publish(Property::lastGeocodeOK, lastGeocodeOK_, value);
}

void AppModel::setIsGeocoding(bool value) {
    publish(Property::isGeocoding, isGeocoding_, value);
}

void AppModel::setStatusText(const QString& value) {
    publish(Property::statusText, statusText_, value);
}

void AppModel::setScreenNotice(const QString& value) {
    publish(Property::screenNotice, screenNotice_, value);
}

void AppModel::noteDisplay(const DisplayOutcome& outcome) {
    QString notice;
    if (outcome.failedToReach()) {
        notice =
            QStringLiteral("Can’t reach the screen: ") +
            QString::fromStdString(outcome.reason.empty() ? "no reason given" : outcome.reason);
    }
    if (notice != screenNotice_) {
        setScreenNotice(notice);
    }
}

void AppModel::noteChange(const FilterChange& change) {
    if (change.store.stored) {
        noteDisplay(change.display);
    } else if (const QString notice =
                   QStringLiteral("Can’t save: ") + QString::fromStdString(change.store.error);
               notice != screenNotice_) {
        setScreenNotice(notice);
    }
}

void AppModel::runPass() {
    if (const auto pass = ReconcileEngine::reconcile(settings_, filter_, clock_.now());
        pass.write) {
        noteChange(*pass.write);
    }
    refresh();
}

void AppModel::followStoredPlace(const std::optional<double>& latitude,
                                 const std::optional<double>& longitude,
                                 const std::optional<std::string>& name) {
    const auto follow = [this](const QString& shown, QString& filled, const QString& stored,
                               void (AppModel::*set)(const QString&)) {
        if (shown == filled) {
            if (shown != stored) {
                (this->*set)(stored);
            }
            filled = stored;
        }
    };
    follow(latitudeText_, filledLatitudeText_, formatOptional(latitude),
           &AppModel::setLatitudeText);
    follow(longitudeText_, filledLongitudeText_, formatOptional(longitude),
           &AppModel::setLongitudeText);
    follow(cityText_, filledCityText_, name ? QString::fromStdString(*name) : QString(),
           &AppModel::setCityText);
}

void AppModel::refresh() {
    const bool on = filter_.enabled();
    const bool automation = settings_.automationEnabled();
    const auto latitude = settings_.latitude();
    const auto longitude = settings_.longitude();
    const auto name = settings_.locationName();

    followStoredPlace(latitude, longitude, name);
    setFilterOn(on);
    setStrength(strengthMoving_ ? movingStrength_ : filter_.strength());
    setAutomationEnabled(automation);
    hasLocation_ = latitude && longitude && std::isfinite(*latitude) && std::isfinite(*longitude) &&
                   std::fabs(*latitude) <= 90.0 && std::fabs(*longitude) <= 180.0;
    locationSummary_ =
        hasLocation_ ? formatG(*latitude) + QStringLiteral(", ") + formatG(*longitude) : kNotSet;
    publish(Property::place, place_,
            name && !name->empty() ? QString::fromStdString(*name) : locationSummary_);
    QString status = on ? QStringLiteral("On") : QStringLiteral("Off");
    if (automation) {
        status += QStringLiteral(" · auto");
    }
    setStatusText(status);
}

void AppModel::setRunning(bool on) {
    noteChange(filter_.setEnabled(on));
    refresh();
}

void AppModel::showStoredState() {
    if (!strengthMoving_) {
        noteDisplay(filter_.applyCurrentState());
    }
    refresh();
}

void AppModel::moveStrength(double value) {
    if (!strengthMoving_ && previewDisplay_ != nullptr) {
        strengthFrame_.setInterval(
            std::max(static_cast<int>(previewDisplay_->previewInterval().count()),
                     strengthFrameMilliseconds));
    }
    movingStrength_ = clampStrength(value);
    strengthMoving_ = true;
    setStrength(movingStrength_);
    if (!strengthFrame_.isActive()) {
        strengthFrame_.start();
    }
    if (!strengthStore_.isActive()) {
        strengthStore_.start();
    }
}

void AppModel::previewStrength() {
    // Off shows the identity ramp whatever the strength: nothing to preview.
    if (strengthMoving_ && previewDisplay_ != nullptr && filter_.enabled()) {
        noteDisplay(previewDisplay_->preview(movingStrength_));
    }
}

void AppModel::storeStrength() {
    if (strengthMoving_) {
        noteChange(filter_.setStrength(movingStrength_, ColorFilterState::Reach::previewed));
    }
}

void AppModel::finishStrength() {
    if (!strengthMoving_) {
        return;
    }
    strengthFrame_.stop();
    strengthStore_.stop();
    strengthMoving_ = false;
    noteChange(filter_.setStrength(movingStrength_));
    setStrength(filter_.strength());
}

void AppModel::setAutomation(bool enabled) {
    noteStored(settings_.setAutomationEnabled(enabled));
    setAutomationEnabled(enabled);
    runPass();
}

bool AppModel::storableCoordinate(const QString& text, double limitDegrees) {
    const auto value = parseCoordinate(text);
    return value && std::fabs(*value) <= limitDegrees;
}

void AppModel::applyLocation() {
    // Each coordinate is judged on its own; an invalid one leaves the stored
    // value as it was.
    const auto latitudeBefore = settings_.latitude();
    const auto longitudeBefore = settings_.longitude();
    // A field still showing the stored value stands for it and is not stored
    // again: its text may have fewer digits, and the place's name would go.
    StoreOutcome stored;
    if (latitudeText_ != filledLatitudeText_ && storableCoordinate(latitudeText_, 90.0)) {
        stored = settings_.setLatitude(parseCoordinate(latitudeText_));
    }
    if (longitudeText_ != filledLongitudeText_ && storableCoordinate(longitudeText_, 180.0) &&
        stored.stored) {
        stored = settings_.setLongitude(parseCoordinate(longitudeText_));
    }
    noteStored(stored);
    // A found city's name must not stay on coordinates typed afterwards.
    if (settings_.latitude() != latitudeBefore || settings_.longitude() != longitudeBefore) {
        settings_.setLocationName(std::nullopt);
        setCityText(QString());
        filledCityText_.clear();
        setGeocodeMessage(QString());
        setLastGeocodeOK(true);
    }
    runPass();
}

void AppModel::resolveCity() {
    const QString name = trimmed(cityText_, isWhitespaceOrNewline);
    if (name.isEmpty()) {
        setLastGeocodeOK(false);
        setGeocodeMessage(kTypeCityName);
        return;
    }
    if (!geocoder_) {
        setLastGeocodeOK(false);
        setGeocodeMessage(kLookupFailed);
        return;
    }
    setIsGeocoding(true);
    setLastGeocodeOK(true);
    setGeocodeMessage(kResolving);
    geocoder_->cancel();
    // A late completion must not touch a model that has gone away.
    QPointer<AppModel> model(this);
    geocoder_->geocode(name, [model, name](std::optional<std::vector<Placemark>> placemarks,
                                           std::optional<GeocodeError> error) {
        if (model) {
            model->finishLookup(name, placemarks, error);
        }
    });
}

void AppModel::finishLookup(const QString& name,
                            const std::optional<std::vector<Placemark>>& placemarks,
                            const std::optional<GeocodeError>& error) {
    setIsGeocoding(false);
    if (error) {
        const QString message = friendlyGeocodeError(*error);
        if (!message.isEmpty()) {
            setLastGeocodeOK(false);
            setGeocodeMessage(message);
        }
        return;
    }
    if (!placemarks || placemarks->empty() || !placemarks->front().location) {
        setLastGeocodeOK(false);
        setGeocodeMessage(notFoundMessage(name));
        return;
    }
    const Placemark first = placemarks->front();
    const double latitude = first.location->latitude;
    const double longitude = first.location->longitude;
    const QString place = placeName(first, name);

    StoreOutcome stored = settings_.setLatitude(latitude);
    if (stored.stored) {
        stored = settings_.setLongitude(longitude);
    }
    if (stored.stored) {
        stored = settings_.setLocationName(place.toStdString());
    }
    noteStored(stored);

    const QString latitudeText = formatG(latitude);
    const QString longitudeText = formatG(longitude);
    setLatitudeText(latitudeText);
    setLongitudeText(longitudeText);
    setCityText(place);
    filledLatitudeText_ = latitudeText;
    filledLongitudeText_ = longitudeText;
    filledCityText_ = place;
    setLastGeocodeOK(true);
    setGeocodeMessage(place + QStringLiteral(" · ") + latitudeText + QStringLiteral(", ") +
                      longitudeText);
    runPass();
}

}  // namespace vesperine
