#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ModelFixture.h"

namespace vesperine::testing {
namespace {

using ::testing::ElementsAre;
using P = AppModel::Property;
using Domain = GeocodeError::Domain;

const QString kResolving = QStringLiteral("Resolving…");
const QString kTypeCityName = QStringLiteral("Type a city name, e.g. Lisbon.");
const QString kNoNetwork = QStringLiteral("No network. Connect and retry, or set lat/long below.");
const QString kNotFoundThatPlace =
    QStringLiteral("Couldn’t find that place. Try a different name or set lat/long.");
const QString kLookupFailed =
    QStringLiteral("Location lookup failed. Try again, or set lat/long below.");

QString notFound(const QString& name) {
    return QStringLiteral("Couldn’t find “") + name +
           QStringLiteral("”. Check the spelling or set lat/long below.");
}

class LookupTest : public ModelFixture {
  protected:
    LookupTest() : model(makeModel()) {}

    // Starts a lookup of `text` and lets every completion due arrive.
    void resolve(const QString& text) {
        model->setCityText(text);
        model->resolveCity();
        settle();
    }

    void settle() {
        runEventsUntil([&] { return script->pendingCount() == 0; }, 2000);
        runEventsFor(5);
    }

    std::unique_ptr<AppModel> model;
};

TEST_F(LookupTest, BlankNameIsRejectedWithoutALookup) {
    for (const char* text : {"", "   ", " \n\t\r\v\f ", "\u2028\u2029\u0085\u00a0\u3000"}) {
        model->setLastGeocodeOK(true);
        model->setCityText(QString::fromUtf8(text));
        PropertyRecorder recorder(*model);
        model->resolveCity();
        EXPECT_FALSE(model->lastGeocodeOK());
        EXPECT_EQ(model->geocodeMessage(), kTypeCityName);
        EXPECT_THAT(recorder.changedProperties(), ElementsAre(P::lastGeocodeOK, P::geocodeMessage));
    }
    EXPECT_TRUE(script->calls.empty());
}

TEST_F(LookupTest, BlankNameLeavesALookupInFlightRunning) {
    model->setCityText("Lisbon");
    model->resolveCity();
    model->setCityText("  ");
    model->resolveCity();
    EXPECT_TRUE(model->isGeocoding());
    EXPECT_EQ(model->geocodeMessage(), kTypeCityName);
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:Lisbon"));
    EXPECT_EQ(script->pendingCount(), 1);
}

TEST_F(LookupTest, StartingALookupShowsResolvingAndCancelsFirst) {
    model->setCityText("  Lisbon\n");
    PropertyRecorder recorder(*model);
    model->resolveCity();
    EXPECT_TRUE(model->isGeocoding());
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);
    EXPECT_THAT(recorder.changedProperties(),
                ElementsAre(P::isGeocoding, P::lastGeocodeOK, P::geocodeMessage));
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:Lisbon"));
    EXPECT_EQ(script->completions, 0);  // nothing arrives inside resolveCity()
}

TEST_F(LookupTest, NotFoundQuotesTheTrimmedName) {
    script->queue(found({}));
    resolve("  Lisbon\n");
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_FALSE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), notFound("Lisbon"));
}

TEST_F(LookupTest, TabsAndUnicodeSeparatorsAreTrimmedFromTheName) {
    script->queue(found({}));
    resolve(QString::fromUtf8("\t\u2028 São Paulo\u0085\u00a0"));
    EXPECT_THAT(script->names, ElementsAre(QString::fromUtf8("São Paulo")));
    EXPECT_EQ(model->geocodeMessage(), notFound(QString::fromUtf8("São Paulo")));
}

TEST_F(LookupTest, UnusableListsGiveTheNotFoundMessage) {
    Placemark noLocation = city("Lisbon", "Portugal", 0, 0);
    noLocation.location.reset();
    const std::vector<FakeReply> replies = {
        FakeReply{},                                             // neither list nor error
        found({}),                                               // empty list
        found({noLocation, city("Porto", "Portugal", 41, -8)}),  // first without location
    };
    for (const FakeReply& reply : replies) {
        script->queue(reply);
        resolve("Atlantis");
        EXPECT_FALSE(model->lastGeocodeOK());
        EXPECT_EQ(model->geocodeMessage(), notFound("Atlantis"));
        EXPECT_FALSE(settings.latitude().has_value());
        EXPECT_FALSE(settings.locationName().has_value());
        EXPECT_EQ(model->cityText(), "Atlantis");
    }
}

TEST_F(LookupTest, FoundPlaceIsStoredShownReconciledAndRefreshed) {
    settings.setAutomationEnabled(true);
    model->refresh();
    script->queue(found({city("Lisbon", "Portugal", 38.7223, -9.1393),
                         city("Lisbon", "United States", 44.0, -70.1)}));
    model->setCityText(" lisbon ");
    model->resolveCity();
    settingsStore.writes.clear();
    PropertyRecorder recorder(*model);
    settle();

    EXPECT_THAT(settingsStore.writes, ElementsAre("latitude=38.7223", "longitude=-9.1393",
                                                  "locationName=Lisbon, Portugal"));
    EXPECT_EQ(model->latitudeText(), "38.7223");
    EXPECT_EQ(model->longitudeText(), "-9.1393");
    EXPECT_EQ(model->cityText(), "Lisbon, Portugal");
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_EQ(model->geocodeMessage(), QStringLiteral("Lisbon, Portugal · 38.7223, -9.1393"));
    EXPECT_TRUE(filter.enabled());  // night in Lisbon
    EXPECT_EQ(model->statusText(), "On · auto");
    EXPECT_EQ(model->locationSummary(), "38.7223, -9.1393");
    EXPECT_THAT(recorder.changedProperties(),
                ElementsAre(P::isGeocoding, P::latitudeText, P::longitudeText, P::cityText,
                            P::lastGeocodeOK, P::geocodeMessage, P::filterOn, P::strength,
                            P::automationEnabled, P::statusText));
}

TEST_F(LookupTest, CoordinatesAreStoredAsDeliveredWithoutRangeTest) {
    script->queue(found({city("Nowhere", "", 123.456789, -200.0)}));
    resolve("Nowhere");
    EXPECT_EQ(settings.latitude(), 123.456789);
    EXPECT_EQ(settings.longitude(), -200.0);
    EXPECT_EQ(model->latitudeText(), "123.457");
    EXPECT_EQ(model->geocodeMessage(), QStringLiteral("Nowhere · 123.457, -200"));
    EXPECT_FALSE(model->hasLocation());
}

struct PlaceNameCase {
    std::optional<QString> locality;
    std::optional<QString> name;
    std::optional<QString> administrativeArea;
    std::optional<QString> country;
    QString place;
};

TEST_F(LookupTest, PlaceNameTakesTheMostSpecificNameThenTheCountry) {
    const std::vector<PlaceNameCase> cases = {
        {"Lisbon", "Ignored", "Lisbon District", "Portugal", "Lisbon, Portugal"},
        {std::nullopt, std::nullopt, "Bavaria", std::nullopt, "Bavaria"},
        {std::nullopt, "Central Park", "New York", "United States", "Central Park, United States"},
        {std::nullopt, std::nullopt, std::nullopt, "Portugal", "Portugal"},
        // an empty locality wins over the name and is then dropped
        {"", "Belém", std::nullopt, "Portugal", "Portugal"},
        {"Lisbon", std::nullopt, std::nullopt, "", "Lisbon"},
        {"   ", std::nullopt, std::nullopt, std::nullopt, "   "},
        // nothing usable: the trimmed typed name
        {std::nullopt, std::nullopt, std::nullopt, std::nullopt, "Atlantis"},
        {"", "", "", "", "Atlantis"},
    };
    for (const auto& c : cases) {
        Placemark placemark;
        placemark.locality = c.locality;
        placemark.name = c.name;
        placemark.administrativeArea = c.administrativeArea;
        placemark.country = c.country;
        placemark.location = Coordinate{1.5, 2.5};
        script->queue(found({placemark}));
        resolve(" Atlantis\n");
        EXPECT_EQ(model->cityText(), c.place);
        EXPECT_EQ(settings.locationName(), c.place.toStdString());
        EXPECT_EQ(model->geocodeMessage(), c.place + QStringLiteral(" · 1.5, 2.5"));
    }
}

TEST_F(LookupTest, ErrorsBecomeTheirMessagesAndStoreNothing) {
    struct Case {
        Domain domain;
        int code;
        QString message;
    };
    const std::vector<Case> cases = {
        {Domain::location, 2, kNoNetwork},         {Domain::location, 8, kNotFoundThatPlace},
        {Domain::location, 9, kNotFoundThatPlace}, {Domain::location, 0, kLookupFailed},
        {Domain::location, 1, kLookupFailed},      {Domain::location, 11, kLookupFailed},
        {Domain::location, -10, kLookupFailed},    {Domain::other, 2, kLookupFailed},
        {Domain::other, 10, kLookupFailed},
    };
    for (const Case& c : cases) {
        script->queue(failed(c.domain, c.code));
        resolve("Lisbon");
        EXPECT_FALSE(model->isGeocoding());
        EXPECT_FALSE(model->lastGeocodeOK()) << c.code;
        EXPECT_EQ(model->geocodeMessage(), c.message) << c.code;
        EXPECT_EQ(model->cityText(), "Lisbon");
    }
    EXPECT_FALSE(settings.latitude().has_value());
    EXPECT_FALSE(settings.longitude().has_value());
    EXPECT_FALSE(settings.locationName().has_value());
}

TEST_F(LookupTest, AnErrorWinsOverPlacemarks) {
    FakeReply reply = found({city("Lisbon", "Portugal", 38.7, -9.1)});
    reply.error = GeocodeError{Domain::location, GeocodeError::network};
    script->queue(reply);
    resolve("Lisbon");
    EXPECT_EQ(model->geocodeMessage(), kNoNetwork);
    EXPECT_FALSE(settings.latitude().has_value());
}

TEST_F(LookupTest, CancelledCompletionOnlyClearsIsGeocoding) {
    script->queue(failed(Domain::location, GeocodeError::cancelled));
    model->setCityText("Lisbon");
    model->resolveCity();
    PropertyRecorder recorder(*model);
    settle();
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);
    EXPECT_THAT(recorder.changedProperties(), ElementsAre(P::isGeocoding));
}

TEST_F(LookupTest, TwoQuickSubmissionsLeaveResolvingUntilTheSecondArrives) {
    model->setCityText("Lisbon");
    model->resolveCity();  // no reply queued: pending until cancelled
    script->queue(found({city("Porto", "Portugal", 41.1496, -8.611)}, 50));
    model->setCityText("Porto");
    model->resolveCity();
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:Lisbon", "cancel", "geocode:Porto"));

    ASSERT_TRUE(runEventsUntil([&] { return script->completions == 1; }));
    EXPECT_FALSE(model->isGeocoding());  // the cancelled one cleared it
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);

    ASSERT_TRUE(runEventsUntil([&] { return script->completions == 2; }));
    EXPECT_EQ(model->geocodeMessage(), QStringLiteral("Porto, Portugal · 41.1496, -8.611"));
    EXPECT_EQ(settings.locationName(), "Porto, Portugal");
}

TEST_F(LookupTest, LateCancelledCompletionLeavesTheNewerResultStanding) {
    script->cancelDelayMs = 60;
    model->setCityText("Lisbon");
    model->resolveCity();
    script->queue(failed(Domain::location, GeocodeError::partialResult));
    model->setCityText("Porto, Spain");
    model->resolveCity();
    ASSERT_TRUE(runEventsUntil([&] { return script->completions == 1; }));
    EXPECT_EQ(model->geocodeMessage(), kNotFoundThatPlace);
    ASSERT_TRUE(runEventsUntil([&] { return script->completions == 2; }));
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_FALSE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kNotFoundThatPlace);
}

TEST_F(LookupTest, ModelDestroyedDuringALookupIsNotTouched) {
    settings.setAutomationEnabled(true);
    script->queue(found({city("Lisbon", "Portugal", 38.7223, -9.1393)}, 20));
    model->setCityText("Lisbon");
    model->resolveCity();
    model.reset();
    settingsStore.writes.clear();
    ASSERT_TRUE(runEventsUntil([&] { return script->completions == 1; }));
    EXPECT_TRUE(settingsStore.writes.empty());
    EXPECT_FALSE(filter.enabled());
}

TEST(AppModelWithoutGeocoder, LookupFailsAtOnce) {
    qtApp();
    InMemoryStore settingsStore;
    Settings settings(settingsStore);
    InMemoryStore filterStore;
    NullDisplay display;
    ColorFilterState filter(filterStore, display);
    FixedClock clock(Instant::fromSecondsSince1970(kLisbonNight));
    AppModel model(settings, filter, clock, nullptr);
    model.setCityText("Lisbon");
    model.resolveCity();
    EXPECT_FALSE(model.isGeocoding());
    EXPECT_FALSE(model.lastGeocodeOK());
    EXPECT_EQ(model.geocodeMessage(), kLookupFailed);
}

}  // namespace
}  // namespace vesperine::testing
