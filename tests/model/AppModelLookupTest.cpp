#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ModelTestSupport.h"

namespace vesperine::testing {
namespace {

using ::testing::ElementsAre;
using Domain = GeocodeError::Domain;
using P = AppModel::Property;

const QString kResolving = QStringLiteral("Resolving…");
const QString kNotThatPlace =
    QStringLiteral("Couldn’t find that place. Try a different name or set lat/long.");
const QString kFailed = QStringLiteral("Location lookup failed. Try again, or set lat/long below.");

QString notFound(const QString& name) {
    return QStringLiteral("Couldn’t find “") + name +
           QStringLiteral("”. Check the spelling or set lat/long below.");
}

class LookupTest : public ModelFixture {
  protected:
    LookupTest() : model(makeModel()) {}

    void resolve(const QString& text) {
        model->setCityText(text);
        model->resolveCity();
    }

    std::unique_ptr<AppModel> model;
};

TEST_F(LookupTest, LookupStartsWithTheTrimmedNameAndBlankNamesLeaveItAlone) {
    model->setCityText(QString::fromUtf8("\t\u2028 São Paulo\n\u0085\u00a0"));
    changed.clear();
    model->resolveCity();
    EXPECT_THAT(changed, ElementsAre(P::isGeocoding, P::lastGeocodeOK, P::geocodeMessage));
    EXPECT_TRUE(model->isGeocoding() && model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);
    for (const char* text : {"", " \n\t\r\v\f \u2028\u2029\u0085\u00a0\u3000"}) {
        model->setLastGeocodeOK(true);
        model->setCityText(QString::fromUtf8(text));
        changed.clear();
        model->resolveCity();
        EXPECT_THAT(changed, ElementsAre(P::lastGeocodeOK, P::geocodeMessage));
        EXPECT_FALSE(model->lastGeocodeOK());
        EXPECT_EQ(model->geocodeMessage(), "Type a city name, e.g. Lisbon.");
    }
    EXPECT_TRUE(model->isGeocoding());
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:São Paulo"));
}

TEST_F(LookupTest, FoundPlaceIsStoredShownReconciledAndRefreshed) {
    settings.setAutomationEnabled(true);
    resolve(" lisbon ");
    settingsStore.writes.clear();
    changed.clear();
    script->answerLast(found({city("Lisbon", "Portugal", 38.7223, -9.1393),
                              city("Lisbon", "United States", 44.0, -70.1)}));
    EXPECT_THAT(settingsStore.writes, ElementsAre("latitude=38.7223", "longitude=-9.1393",
                                                  "locationName=Lisbon, Portugal"));
    EXPECT_THAT(changed, ElementsAre(P::isGeocoding, P::latitudeText, P::longitudeText, P::cityText,
                                     P::lastGeocodeOK, P::geocodeMessage, P::filterOn, P::strength,
                                     P::automationEnabled, P::place, P::statusText));
    EXPECT_EQ(model->latitudeText() + "|" + model->longitudeText(), "38.7223|-9.1393");
    EXPECT_TRUE(filter.enabled());  // night in Lisbon
    EXPECT_EQ(model->statusText(), "On · auto");

    // Set with the fields as filled stores nothing; fields left alone follow
    // the file when it changes, the edited one does not.
    resolve("Porto");
    script->answerLast(found({city("Porto", "Portugal", 41.1496111, -8.6109901)}));
    settingsStore.writes.clear();
    model->applyLocation();
    EXPECT_TRUE(settingsStore.writes.empty());
    model->setLongitudeText("-8.6");
    settings.setLatitude(52.52);
    settings.setLocationName("Berlin, Germany");
    model->refresh();
    EXPECT_EQ(model->latitudeText() + "|" + model->longitudeText() + "|" + model->cityText(),
              "52.52|-8.6|Berlin, Germany");
}

// What one completion makes of each kind of reply to "  Atlantis\n".
TEST_F(LookupTest, EveryReplyEndsInItsMessage) {
    const auto at = [](std::optional<QString> locality, std::optional<QString> name,
                       std::optional<QString> area, std::optional<QString> country) {
        return found({{locality, name, area, country, Coordinate{1.5, 2.5}}});
    };
    Placemark noLocation = city("Lisbon", "Portugal", 0, 0);
    noLocation.location.reset();
    FakeReply errorAndList = at("Lisbon", {}, {}, {});
    errorAndList.error = GeocodeError{Domain::location, 2};
    const auto none = std::nullopt;
    struct Case {
        FakeReply reply;
        QString message;  // for a found place: the place shown and stored
        bool found;
    };
    const std::vector<Case> cases = {
        {at("Lisbon", "Ignored", "Lisbon District", "Portugal"), "Lisbon, Portugal", true},
        {at(none, none, "Bavaria", none), "Bavaria", true},
        {at(none, "Central Park", "New York", "USA"), "Central Park, USA", true},
        {at("", "Belém", none, "Portugal"), "Portugal", true},  // the empty locality wins
        {at("Lisbon", none, none, ""), "Lisbon", true},
        {at("", "", "", ""), "Atlantis", true},
        {FakeReply{}, notFound("Atlantis"), false},
        {found({}), notFound("Atlantis"), false},
        {found({noLocation, city("Porto", "PT", 41, -8)}), notFound("Atlantis"), false},
        {failed(Domain::location, 2), "No network. Connect and retry, or set lat/long below.",
         false},
        {errorAndList, "No network. Connect and retry, or set lat/long below.", false},
        {failed(Domain::location, 8), kNotThatPlace, false},
        {failed(Domain::location, 11), kFailed, false},
        {failed(Domain::other, 2), kFailed, false},
        {failed(Domain::other, 10), kFailed, false},
    };
    for (const Case& c : cases) {
        settings.setLocationName(std::nullopt);
        resolve("  Atlantis\n");
        script->answerLast(c.reply);
        const QString trace = c.message;
        EXPECT_FALSE(model->isGeocoding()) << trace.toStdString();
        EXPECT_EQ(model->lastGeocodeOK(), c.found) << trace.toStdString();
        if (c.found) {
            EXPECT_EQ(model->cityText(), c.message);
            EXPECT_EQ(settings.locationName(), c.message.toStdString());
            EXPECT_EQ(model->geocodeMessage(), c.message + QStringLiteral(" · 1.5, 2.5"));
        } else {
            EXPECT_EQ(model->geocodeMessage(), c.message);
            EXPECT_EQ(model->cityText(), "  Atlantis\n");
            EXPECT_FALSE(settings.locationName().has_value()) << trace.toStdString();
        }
    }
    resolve(QString(100, 'x') + " y");  // a pasted page: the message quotes its start
    script->answerLast(FakeReply{});
    EXPECT_EQ(model->geocodeMessage(), notFound(QString(60, 'x') + "…"));
}

TEST_F(LookupTest, TwoQuickSubmissionsShowResolvingUntilTheSecondArrives) {
    resolve("Lisbon");
    resolve("Porto");
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:Lisbon", "cancel", "geocode:Porto"));
    changed.clear();
    script->answer(0, failed(Domain::location, GeocodeError::cancelled));
    EXPECT_THAT(changed, ElementsAre(P::isGeocoding));  // the cancelled one clears only that
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);
    script->answer(1, found({city("Porto", "Portugal", 41.1496, -8.611)}));
    EXPECT_EQ(model->geocodeMessage(), QStringLiteral("Porto, Portugal · 41.1496, -8.611"));
}

TEST_F(LookupTest, LateCancelledCompletionLeavesTheNewerOutcomeStanding) {
    resolve("Lisbon");
    resolve("Porto, Spain");
    script->answer(1, failed(Domain::location, GeocodeError::partialResult));
    script->answer(0, failed(Domain::location, GeocodeError::cancelled));
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_FALSE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kNotThatPlace);
}

TEST_F(LookupTest, ModelDestroyedDuringALookupIsNotTouched) {
    settings.setAutomationEnabled(true);
    resolve("Lisbon");
    model.reset();
    settingsStore.writes.clear();
    script->answerLast(found({city("Lisbon", "Portugal", 38.7223, -9.1393)}));
    EXPECT_TRUE(settingsStore.writes.empty());
    EXPECT_FALSE(filter.enabled());
}

TEST_F(LookupTest, WithoutAGeocoderTheLookupFailsAtOnce) {
    AppModel bare(settings, filter, clock, nullptr);
    bare.setCityText("Lisbon");
    bare.resolveCity();
    EXPECT_FALSE(bare.isGeocoding() || bare.lastGeocodeOK());
    EXPECT_EQ(bare.geocodeMessage(), kFailed);
}

}  // namespace
}  // namespace vesperine::testing
