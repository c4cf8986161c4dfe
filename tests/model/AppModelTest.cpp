#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>

#include "ModelTestSupport.h"

namespace vesperine::testing {
namespace {

using ::testing::ElementsAre;
using AppModelTest = ModelFixture;
using P = AppModel::Property;

constexpr double kInf = std::numeric_limits<double>::infinity();
const std::vector<P> kRefresh = {P::filterOn, P::strength, P::automationEnabled, P::place,
                                 P::statusText};

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
             Case{kInf, 10.0, "inf", "10", "Not set", ""},
             Case{12.5, std::nullopt, "12.5", "", "Not set", "Lisbon, Portugal"},
         }) {
        settings.setLatitude(c.latitude);
        settings.setLongitude(c.longitude);
        settings.setLocationName(c.name);
        settingsStore.writes.clear();
        const auto model = makeModel();
        EXPECT_TRUE(settingsStore.writes.empty());
        EXPECT_EQ(model->cityText(), c.name);
        // The stored name, when there is one, names the place in the panel.
        EXPECT_EQ(model->place(), *c.name ? c.name : c.summary);
        EXPECT_EQ(model->latitudeText(), c.latitudeText);
        EXPECT_EQ(model->longitudeText(), c.longitudeText);
        EXPECT_EQ(model->locationSummary(), c.summary);
        EXPECT_EQ(model->hasLocation(), std::string(c.summary) != "Not set");
        EXPECT_TRUE(model->lastGeocodeOK() && !model->isGeocoding());
        EXPECT_EQ(model->geocodeMessage(), "");
    }
}

// A refresh reads the live filter and each setting once, whatever the views
// ask of the model afterwards.
TEST_F(AppModelTest, RefreshReadsTheLiveFilterAndEachSettingOnce) {
    struct Case {
        bool filterOn, automation;
        const char* status;
    };
    for (const Case& c : {Case{true, true, "On · auto"}, Case{true, false, "On"},
                          Case{false, true, "Off · auto"}, Case{false, false, "Off"}}) {
        filter.setEnabled(c.filterOn);
        settings.setAutomationEnabled(c.automation);
        const auto model = makeModel();
        EXPECT_EQ(model->statusText(), c.status);
        model->setFilterOn(!c.filterOn);
        model->setAutomationEnabled(!c.automation);
        settingsStore.reads.clear();
        model->refresh();
        EXPECT_EQ(model->statusText(), c.status);
        EXPECT_EQ(model->filterOn(), c.filterOn);
        EXPECT_EQ(model->place(), "Not set");
        EXPECT_THAT(settingsStore.reads,
                    ::testing::UnorderedElementsAre("automationEnabled", "latitude", "longitude",
                                                    "locationName"));
    }
}

TEST_F(AppModelTest, AnAssignmentAnnouncesBeforeStoring) {
    const auto model = makeModel();
    filter.setEnabled(true);
    std::vector<bool> seen;
    QObject::connect(model.get(), &AppModel::willChange, &context,
                     [&](P p) { p == P::filterOn ? seen.push_back(model->filterOn()) : void(); });
    QObject::connect(model.get(), &AppModel::changed, &context,
                     [&](P p) { p == P::filterOn ? seen.push_back(model->filterOn()) : void(); });
    model->refresh();
    EXPECT_THAT(seen, ElementsAre(false, true));
}

TEST_F(AppModelTest, SetAutomationTwiceStoresReconcilesAndRefreshesTwice) {
    storePlace(38.7223, -9.1393);  // night: the schedule wants the filter on
    const auto model = makeModel();
    settingsStore.writes.clear();
    changed.clear();
    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());
    filter.setEnabled(false);  // a manual change in between
    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());
    EXPECT_THAT(settingsStore.writes,
                ElementsAre("automationEnabled=true", "automationEnabled=true"));
    std::vector<P> once = {P::automationEnabled};
    once.insert(once.end(), kRefresh.begin(), kRefresh.end());
    std::vector<P> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(changed, twice);
    EXPECT_EQ(model->statusText(), "On · auto");

    filter.setEnabled(false);
    model->setAutomation(false);  // the pass runs and leaves the filter alone
    EXPECT_FALSE(filter.enabled());
    EXPECT_EQ(model->statusText(), "Off");
}

// Each valid coordinate is stored on its own; a move drops the found place's
// name, and the schedule's pass runs whatever was stored.
TEST_F(AppModelTest, ApplyLocationStoresEachValidCoordinateAndAlwaysReconciles) {
    struct Case {
        const char *latitudeText, *longitudeText;
        double latitude, longitude;  // stored afterwards; 1 and 2 before
    };
    settings.setAutomationEnabled(true);
    for (const Case& c : {
             Case{" 38.7 ", "-9.14", 38.7, -9.14},
             Case{"1", "2.0", 1, 2},  // the same place again: its name still fits
             Case{"91", "-9.14", 1, -9.14},
             Case{"38.7", "180.5", 38.7, 2},
             Case{"38,7", "+9.14", 1, 9.14},
             Case{"inf", "nan", 1, 2},
             Case{"   ", "38.7 N", 1, 2},
             // TAB and the space separators are trimmed, line breaks are not
             Case{"\t38.7\u00a0", "\u2009-9.14\u3000", 38.7, -9.14},
             Case{"\n38.7", "-9.14\n", 1, 2},
         }) {
        storePlace(1.0, 2.0);
        settings.setLocationName("Null Island");
        filter.setEnabled(false);
        const auto model = makeModel();
        model->setGeocodeMessage("Null Island · 1, 2");
        model->setLatitudeText(QString::fromUtf8(c.latitudeText));
        model->setLongitudeText(QString::fromUtf8(c.longitudeText));
        changed.clear();
        model->applyLocation();
        EXPECT_EQ(settings.latitude(), c.latitude) << c.latitudeText;
        EXPECT_EQ(settings.longitude(), c.longitude) << c.longitudeText;
        EXPECT_EQ(model->latitudeText(), QString::fromUtf8(c.latitudeText));
        EXPECT_EQ(model->longitudeText(), QString::fromUtf8(c.longitudeText));
        // The summary follows what was stored, not what was typed.
        EXPECT_EQ(model->locationSummary(), QString("%1, %2").arg(c.latitude).arg(c.longitude));
        EXPECT_TRUE(filter.enabled()) << c.latitudeText;  // the pass switched it on for the night
        const bool moved = c.latitude != 1 || c.longitude != 2;
        EXPECT_EQ(settings.locationName().has_value(), !moved) << c.latitudeText;
        EXPECT_EQ(model->cityText().isEmpty() && model->geocodeMessage().isEmpty(), moved);
        if (!moved) {
            EXPECT_EQ(changed, kRefresh) << c.latitudeText;
        }
    }
}

// A drag of the strength slider: thousands of moves in 0.6 s, on a display
// that previews every frame and on a desktop that previews every 100 ms.
TEST_F(AppModelTest, AMovingStrengthIsPreviewedStoredSeldomAndAgreesWhenItEnds) {
    filter.setEnabled(true);
    for (const int intervalMs : {16, 100}) {
        display.interval = std::chrono::milliseconds(intervalMs);
        display.applies.clear();
        display.previews.clear();
        const auto model = makeModel();
        model->setPreviewDisplay(&display);
        filterStore.writes.clear();
        QElapsedTimer elapsed;
        elapsed.start();
        double value = 0.0;
        while (elapsed.elapsed() < 600) {
            value = static_cast<double>(elapsed.elapsed()) / 1000.0;
            model->moveStrength(value);
            EXPECT_EQ(model->strength(), value);
            QCoreApplication::processEvents();
            if (!filterStore.writes.empty()) {
                // The store's write makes the tray follow the file: that must
                // not pull the strength back to the stored, older value.
                model->showStoredState();
                EXPECT_EQ(model->strength(), value);
            }
        }
        const auto writesDuringDrag = filterStore.writes.size();
        EXPECT_GE(writesDuringDrag, 1u);
        EXPECT_LE(writesDuringDrag, 3u);  // a few a second
        EXPECT_TRUE(display.applies.empty()) << "the drag waited for the screen";
        EXPECT_FALSE(display.previews.empty());
        // One per frame or interval, and one with each store.
        EXPECT_LE(display.previews.size(), 600u / intervalMs + 1 + writesDuringDrag) << intervalMs;
        model->finishStrength();
        EXPECT_EQ(display.applies, (std::vector<std::pair<bool, double>>{{true, value}}));
        EXPECT_EQ(filter.strength(), value);
        EXPECT_EQ(model->strength(), value);
        EXPECT_TRUE(filter.enabled());
        model->showStoredState();
        EXPECT_EQ(model->strength(), value);
    }
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
    filterStore.failure.reset();
    model->setRunning(true);
    EXPECT_EQ(model->screenNotice(), "");
    settingsStore.failure = "cannot lock s: Permission denied";
    model->setAutomation(true);
    EXPECT_EQ(model->screenNotice(), "Can’t save: cannot lock s: Permission denied");
}

}  // namespace
}  // namespace vesperine::testing
