#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <QElapsedTimer>

#include "ModelTestSupport.h"

namespace vesperine::testing {
namespace {

using ::testing::ElementsAre;
using AppModelTest = ModelFixture;
using P = AppModel::Property;
using Domain = GeocodeError::Domain;

TEST_F(AppModelTest, StoredPlaceFillsTextsAndDerivedProperties) {
    struct Case {
        std::optional<double> latitude, longitude;
        const char *latitudeText, *longitudeText, *summary, *name;
    };
    for (const Case& c : {
             Case{std::nullopt, std::nullopt, "", "", "Not set", ""},
             Case{38.722312, -9.1393, "38.7223", "-9.1393", "38.7223, -9.1393", "Lisbon, Portugal"},
             Case{0.0, 0.0, "0", "0", "0, 0", ""},
             Case{90.0, -180.0, "90", "-180", "90, -180", ""},
             Case{0.00001, 179.5, "1e-05", "179.5", "1e-05, 179.5", "Lisbon, Portugal"},
             Case{90.0001, 10.0, "90.0001", "10", "Not set", ""},
             Case{12.5, std::nullopt, "12.5", "", "Not set", "Lisbon, Portugal"},
         }) {
        settings.setLatitude(c.latitude);
        settings.setLongitude(c.longitude);
        settings.setLocationName(c.name);
        settingsStore.writes.clear();
        const auto model = makeModel();
        EXPECT_TRUE(settingsStore.writes.empty());
        // The stored name, when there is one, names the place in the panel.
        EXPECT_EQ(model->place(), *c.name ? c.name : c.summary);
        EXPECT_EQ(model->latitudeText(), c.latitudeText);
        EXPECT_EQ(model->longitudeText(), c.longitudeText);
        EXPECT_EQ(model->locationSummary(), c.summary);
        EXPECT_TRUE(model->lastGeocodeOK());
    }
}

// A refresh reads the live filter and each setting once, whatever the views
// ask of the model afterwards; each assignment is announced before it is stored.
TEST_F(AppModelTest, RefreshReadsTheLiveFilterAndEachSettingOnce) {
    const std::tuple<bool, bool, const char*> cases[] = {{true, false, "On"},
                                                         {false, true, "Off · auto"}};
    for (const auto& [filterOn, automation, status] : cases) {
        filter.setEnabled(filterOn);
        settings.setAutomationEnabled(automation);
        const auto model = makeModel();
        model->setFilterOn(!filterOn);
        model->setAutomationEnabled(!automation);
        settingsStore.reads.clear();
        std::vector<bool> seen;  // filterOn as its announcements find it
        const auto note = [&](P p) {
            p == P::filterOn ? seen.push_back(model->filterOn()) : void();
        };
        QObject::connect(model.get(), &AppModel::willChange, &context, note);
        QObject::connect(model.get(), &AppModel::changed, &context, note);
        model->refresh();
        EXPECT_THAT(seen, ElementsAre(!filterOn, filterOn));
        EXPECT_EQ(model->statusText(), status);
        EXPECT_THAT(settingsStore.reads,
                    ::testing::UnorderedElementsAre("automationEnabled", "latitude", "longitude",
                                                    "locationName"));
    }
}

TEST_F(AppModelTest, SetAutomationTwiceStoresAndReconcilesTwice) {
    storePlace(38.7223, -9.1393);  // night: the schedule wants the filter on
    const auto model = makeModel();
    settingsStore.writes.clear();
    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());
    filter.setEnabled(false);  // a manual change in between
    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());
    EXPECT_THAT(settingsStore.writes,
                ElementsAre("automationEnabled=true", "automationEnabled=true"));
}

// Each valid coordinate is stored on its own; a move drops the found place's
// name, and the schedule's pass runs whatever was stored.
TEST_F(AppModelTest, ApplyLocationStoresEachValidCoordinateAndAlwaysReconciles) {
    // What is typed, and the coordinates stored afterwards; 1 and 2 before.
    const std::tuple<const char*, const char*, double, double> cases[] = {
        {" 38.7 ", "-9.14", 38.7, -9.14},
        {"1", "2.0", 1, 2},  // the same place again: its name still fits
        {"91", "-9.14", 1, -9.14},
        {"38.7", "180.5", 38.7, 2},
        {"inf", "nan", 1, 2},
        {"   ", "38.7 N", 1, 2},
        // TAB and the space separators are trimmed, line breaks are not
        {"\t38.7\u00a0", "\u2009-9.14\u3000", 38.7, -9.14},
        {"\n38.7", "-9.14\n", 1, 2},
    };
    settings.setAutomationEnabled(true);
    for (const auto& [latitudeText, longitudeText, latitude, longitude] : cases) {
        storePlace(1.0, 2.0);
        settings.setLocationName("Null Island");
        filter.setEnabled(false);
        const auto model = makeModel();
        model->setGeocodeMessage("Null Island · 1, 2");
        model->setLatitudeText(QString::fromUtf8(latitudeText));
        model->setLongitudeText(QString::fromUtf8(longitudeText));
        changed.clear();
        model->applyLocation();
        EXPECT_EQ(settings.latitude(), latitude) << latitudeText;
        EXPECT_EQ(settings.longitude(), longitude) << longitudeText;
        EXPECT_EQ(model->latitudeText(), QString::fromUtf8(latitudeText));
        EXPECT_EQ(model->longitudeText(), QString::fromUtf8(longitudeText));
        // The summary follows what was stored, not what was typed.
        EXPECT_EQ(model->locationSummary(), QString("%1, %2").arg(latitude).arg(longitude));
        EXPECT_TRUE(filter.enabled()) << latitudeText;  // the pass switched it on for the night
        const bool moved = latitude != 1 || longitude != 2;
        EXPECT_EQ(settings.locationName().has_value(), !moved) << latitudeText;
        EXPECT_EQ(model->cityText().isEmpty() && model->geocodeMessage().isEmpty(), moved);
        if (!moved) {
            EXPECT_EQ(changed, (std::vector<P>{P::filterOn, P::strength, P::automationEnabled,
                                               P::place, P::statusText}));
        }
    }
}

// A drag of the strength slider: thousands of moves in 0.6 s, on a desktop
// that previews every 100 ms (an interval longer than a frame).
TEST_F(AppModelTest, AMovingStrengthIsPreviewedStoredSeldomAndAgreesWhenItEnds) {
    filter.setEnabled(true);
    display.interval = std::chrono::milliseconds(100);
    display.applies.clear();
    const auto model = makeModel();
    model->setPreviewDisplay(&display);
    filterStore.writes.clear();
    QElapsedTimer elapsed;
    elapsed.start();
    double value = 0.0;
    while (elapsed.elapsed() < 600) {
        value = static_cast<double>(elapsed.elapsed()) / 1000.0;
        model->moveStrength(value);
        QCoreApplication::processEvents();
        if (!filterStore.writes.empty()) {
            // The store's write makes the tray follow the file: that must
            // not pull the strength back to the stored, older value.
            model->showStoredState();
            EXPECT_EQ(model->strength(), value);
        }
    }
    const auto writesDuringDrag = filterStore.writes.size();
    EXPECT_GE(writesDuringDrag, 1u);  // stored while it moves, a few times a second
    EXPECT_LE(writesDuringDrag, 3u);
    EXPECT_TRUE(display.applies.empty()) << "the drag waited for the screen";
    EXPECT_GT(display.previews.size(), writesDuringDrag) << "previewed between stores too";
    // One per interval, and one with each store.
    EXPECT_LE(display.previews.size(), 600u / 100 + 1 + writesDuringDrag);
    model->finishStrength();
    EXPECT_EQ(display.applies, (std::vector<std::pair<bool, double>>{{true, value}}));
    EXPECT_EQ(filter.strength(), value);
    model->showStoredState();
    EXPECT_EQ(model->strength(), value);
    // Off, the screen shows no tint to preview.
    filter.setEnabled(false);
    display.previews.clear();
    model->moveStrength(0.2);
    QTest::qWait(250);
    EXPECT_TRUE(display.previews.empty());
}

// The screen notice's text is checked where the panel shows it. A change
// that could not be stored says so there too.
TEST_F(AppModelTest, ScreenNoticeFollowsTheLastApplyAndIsPublishedOnlyOnChange) {
    const auto model = makeModel();
    changed.clear();
    model->noteDisplay(DisplayOutcome::failed("the compositor offers no gamma control"));
    model->noteDisplay(DisplayOutcome::failed("the compositor offers no gamma control"));
    model->noteDisplay(DisplayOutcome::noDisplay());
    EXPECT_EQ(model->screenNotice(), "");
    EXPECT_EQ(changed, (std::vector<P>{P::screenNotice, P::screenNotice}));

    filterStore.failure = "cannot lock f: Permission denied";
    model->setRunning(true);
    EXPECT_EQ(model->screenNotice(), "Can’t save: cannot lock f: Permission denied");
    settingsStore.failure = "cannot lock s: Permission denied";
    model->setAutomation(true);
    EXPECT_EQ(model->screenNotice(), "Can’t save: cannot lock s: Permission denied");
}

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
    LookupTest() { make(); }

    void resolve(const QString& text) {
        model->setCityText(text);
        model->resolveCity();
    }
};

// A lookup is asked for the trimmed name; a blank name, or no geocoder, fails at once.
TEST_F(LookupTest, LookupStartsWithTheTrimmedNameAndABlankNameLeavesItAlone) {
    model->setCityText(QString::fromUtf8("\t\u2028 São Paulo\n\u0085\u00a0"));
    model->resolveCity();
    EXPECT_TRUE(model->isGeocoding() && model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), kResolving);
    model->setCityText(QString::fromUtf8(" \n\t\r\v\f \u2028\u2029\u0085\u00a0\u3000"));
    model->resolveCity();
    EXPECT_FALSE(model->lastGeocodeOK());
    EXPECT_EQ(model->geocodeMessage(), "Type a city name, e.g. Lisbon.");
    EXPECT_TRUE(model->isGeocoding());
    EXPECT_THAT(script->calls, ElementsAre("cancel", "geocode:São Paulo"));
    AppModel bare(settings, filter, clock, nullptr);
    bare.setCityText("Lisbon");
    bare.resolveCity();
    EXPECT_FALSE(bare.isGeocoding() || bare.lastGeocodeOK());
    EXPECT_EQ(bare.geocodeMessage(), kFailed);
}

TEST_F(LookupTest, FoundPlaceIsStoredShownReconciledAndRefreshed) {
    settings.setAutomationEnabled(true);
    resolve(" lisbon ");
    settingsStore.writes.clear();
    script->answerLast(found({city("Lisbon", "Portugal", 38.7223, -9.1393),
                              city("Lisbon", "United States", 44.0, -70.1)}));
    EXPECT_THAT(settingsStore.writes, ElementsAre("latitude=38.7223", "longitude=-9.1393",
                                                  "locationName=Lisbon, Portugal"));
    EXPECT_EQ(model->latitudeText() + "|" + model->longitudeText(), "38.7223|-9.1393");
    EXPECT_EQ(model->statusText(), "On · auto");  // night in Lisbon

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

    // A lookup that completes after its model is gone touches nothing.
    filter.setEnabled(false);
    resolve("Lisbon");
    model.reset();
    settingsStore.writes.clear();
    script->answerLast(found({city("Lisbon", "Portugal", 38.7223, -9.1393)}));
    EXPECT_TRUE(settingsStore.writes.empty());
    EXPECT_FALSE(filter.enabled());
}

// What each kind of reply to "  Atlantis\n" ends in. Each lookup cancels the
// one before, whose completion, early or late, changes only the busy state.
TEST_F(LookupTest, EveryReplyEndsInItsMessageWhateverCancelledCompletionsFollow) {
    const auto at = [](std::optional<QString> locality, std::optional<QString> name,
                       std::optional<QString> area, std::optional<QString> country) {
        return found({{locality, name, area, country, Coordinate{1.5, 2.5}}});
    };
    const auto none = std::nullopt;
    const Placemark noLocation{"Lisbon", none, none, "Portugal", none};
    const FakeReply errorAndList{at("Lisbon", {}, {}, {}).placemarks,
                                 GeocodeError{Domain::location, 2}};
    const FakeReply cancelled = failed(Domain::location, GeocodeError::cancelled);
    // A reply, and the message it ends in; for a found place, the place shown and stored.
    const std::vector<std::tuple<FakeReply, QString, bool>> cases = {
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
        {failed(Domain::location, 9), kNotThatPlace, false},
        {failed(Domain::location, 11), kFailed, false},
        {failed(Domain::other, 2), kFailed, false},
        {failed(Domain::other, 10), kFailed, false},
    };
    for (const auto& [reply, message, isFound] : cases) {
        const std::string trace = message.toStdString();
        settings.setLocationName(std::nullopt);
        const std::size_t first = script->lookups.size();
        resolve("Lisbon");
        resolve("Porto");
        resolve("  Atlantis\n");
        script->answer(first, cancelled);
        EXPECT_TRUE(!model->isGeocoding() && model->lastGeocodeOK()) << trace;
        EXPECT_EQ(model->geocodeMessage(), kResolving);
        script->answer(first + 2, reply);
        script->answer(first + 1, cancelled);
        EXPECT_FALSE(model->isGeocoding()) << trace;
        EXPECT_EQ(model->lastGeocodeOK(), isFound) << trace;
        if (isFound) {
            EXPECT_EQ(model->cityText(), message);
            EXPECT_EQ(settings.locationName(), trace);
            EXPECT_EQ(model->geocodeMessage(), message + QStringLiteral(" · 1.5, 2.5"));
        } else {
            EXPECT_EQ(model->geocodeMessage(), message);
            EXPECT_EQ(model->cityText(), "  Atlantis\n");
            EXPECT_FALSE(settings.locationName().has_value()) << trace;
        }
    }
    resolve(QString(100, 'x') + " y");  // a pasted page: the message quotes its start
    script->answerLast(FakeReply{});
    EXPECT_EQ(model->geocodeMessage(), notFound(QString(60, 'x') + "…"));
}

}  // namespace
}  // namespace vesperine::testing
