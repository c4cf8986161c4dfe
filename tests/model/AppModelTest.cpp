#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "ModelFixture.h"

namespace vesperine::testing {
namespace {

using ::testing::ElementsAre;
using P = AppModel::Property;

using AppModelTest = ModelFixture;

TEST_F(AppModelTest, NothingStoredGivesEmptyFieldsAndNoPlace) {
    const auto model = makeModel();
    EXPECT_FALSE(model->filterOn());
    EXPECT_DOUBLE_EQ(model->strength(), ColorFilterState::defaultStrength);
    EXPECT_FALSE(model->automationEnabled());
    EXPECT_EQ(model->latitudeText(), "");
    EXPECT_EQ(model->longitudeText(), "");
    EXPECT_EQ(model->cityText(), "");
    EXPECT_EQ(model->geocodeMessage(), "");
    EXPECT_TRUE(model->lastGeocodeOK());
    EXPECT_FALSE(model->isGeocoding());
    EXPECT_EQ(model->statusText(), "Off");
    EXPECT_FALSE(model->hasLocation());
    EXPECT_EQ(model->locationSummary(), "Not set");
    EXPECT_TRUE(settingsStore.writes.empty());
}

TEST_F(AppModelTest, CreationReadsLiveStateAndSettings) {
    filter.setEnabled(true);
    filter.setStrength(0.8);
    settings.setAutomationEnabled(true);
    settings.setLocationName("Lisbon, Portugal");
    const auto model = makeModel();
    EXPECT_TRUE(model->filterOn());
    EXPECT_DOUBLE_EQ(model->strength(), 0.8);
    EXPECT_TRUE(model->automationEnabled());
    EXPECT_EQ(model->cityText(), "Lisbon, Portugal");
    EXPECT_EQ(model->statusText(), "On · auto");
}

struct StoredPlaceCase {
    std::optional<double> latitude;
    std::optional<double> longitude;
    const char* latitudeText;
    const char* longitudeText;
    bool hasLocation;
    const char* summary;
};

class StoredPlaceTest : public ModelFixture,
                        public ::testing::WithParamInterface<StoredPlaceCase> {};

TEST_P(StoredPlaceTest, FillsTextsAndDerivedProperties) {
    const auto& c = GetParam();
    settings.setLatitude(c.latitude);
    settings.setLongitude(c.longitude);
    const auto model = makeModel();
    EXPECT_EQ(model->latitudeText(), c.latitudeText);
    EXPECT_EQ(model->longitudeText(), c.longitudeText);
    EXPECT_EQ(model->hasLocation(), c.hasLocation);
    EXPECT_EQ(model->locationSummary(), c.summary);
}

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

INSTANTIATE_TEST_SUITE_P(
    Places, StoredPlaceTest,
    ::testing::Values(StoredPlaceCase{38.722312, -9.1393, "38.7223", "-9.1393", true,
                                      "38.7223, -9.1393"},
                      StoredPlaceCase{0.0, 0.0, "0", "0", true, "0, 0"},
                      StoredPlaceCase{90.0, -180.0, "90", "-180", true, "90, -180"},
                      StoredPlaceCase{-90.0, 180.0, "-90", "180", true, "-90, 180"},
                      StoredPlaceCase{0.00001, 1234567.0, "1e-05", "1.23457e+06", false, "Not set"},
                      StoredPlaceCase{90.0001, 10.0, "90.0001", "10", false, "Not set"},
                      StoredPlaceCase{95.0, 10.0, "95", "10", false, "Not set"},
                      StoredPlaceCase{kInf, 10.0, "inf", "10", false, "Not set"},
                      StoredPlaceCase{10.0, kNaN, "10", "nan", false, "Not set"},
                      StoredPlaceCase{12.5, std::nullopt, "12.5", "", false, "Not set"},
                      StoredPlaceCase{std::nullopt, -9.5, "", "-9.5", false, "Not set"}));

TEST_F(AppModelTest, DerivedPropertiesReadTheSettingsNotTheFields) {
    const auto model = makeModel();
    model->setLatitudeText("38.7");
    model->setLongitudeText("-9.1");
    EXPECT_FALSE(model->hasLocation());
    storePlace(38.5, -9.25);
    EXPECT_TRUE(model->hasLocation());
    EXPECT_EQ(model->locationSummary(), "38.5, -9.25");
    EXPECT_EQ(model->latitudeText(), "38.7");
}

TEST_F(AppModelTest, StatusLineFollowsLiveFilterAndStoredFlag) {
    struct Case {
        bool filterOn;
        bool automation;
        const char* status;
    };
    for (const Case& c : {Case{true, true, "On · auto"}, Case{true, false, "On"},
                          Case{false, true, "Off · auto"}, Case{false, false, "Off"}}) {
        filter.setEnabled(c.filterOn);
        settings.setAutomationEnabled(c.automation);
        const auto model = makeModel();
        EXPECT_EQ(model->statusText(), c.status);
        // The status reads afresh, not the published values.
        model->setFilterOn(!c.filterOn);
        model->setAutomationEnabled(!c.automation);
        model->refresh();
        EXPECT_EQ(model->statusText(), c.status);
    }
}

TEST_F(AppModelTest, RefreshNotifiesFourTimesInOrderEvenWithoutChange) {
    const auto model = makeModel();
    PropertyRecorder recorder(*model);
    model->refresh();
    model->refresh();
    const std::vector<std::string> once = {
        "will:filterOn",          "did:filterOn",          "will:strength",   "did:strength",
        "will:automationEnabled", "did:automationEnabled", "will:statusText", "did:statusText"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(recorder.events, twice);
}

TEST_F(AppModelTest, NotificationComesBeforeTheValueIsStored) {
    const auto model = makeModel();
    filter.setEnabled(true);
    std::vector<bool> seenAtWill;
    std::vector<bool> seenAtDid;
    QObject context;
    QObject::connect(model.get(), &AppModel::willChange, &context, [&](P p) {
        if (p == P::filterOn) {
            seenAtWill.push_back(model->filterOn());
        }
    });
    QObject::connect(model.get(), &AppModel::changed, &context, [&](P p) {
        if (p == P::filterOn) {
            seenAtDid.push_back(model->filterOn());
        }
    });
    model->refresh();
    EXPECT_THAT(seenAtWill, ElementsAre(false));
    EXPECT_THAT(seenAtDid, ElementsAre(true));
}

TEST_F(AppModelTest, EverySetterNotifiesOnEqualValues) {
    const auto model = makeModel();
    PropertyRecorder recorder(*model);
    model->setFilterOn(model->filterOn());
    model->setStrength(model->strength());
    model->setAutomationEnabled(model->automationEnabled());
    model->setLatitudeText(model->latitudeText());
    model->setLongitudeText(model->longitudeText());
    model->setCityText(model->cityText());
    model->setGeocodeMessage(model->geocodeMessage());
    model->setLastGeocodeOK(model->lastGeocodeOK());
    model->setIsGeocoding(model->isGeocoding());
    model->setStatusText(model->statusText());
    EXPECT_THAT(recorder.changedProperties(),
                ElementsAre(P::filterOn, P::strength, P::automationEnabled, P::latitudeText,
                            P::longitudeText, P::cityText, P::geocodeMessage, P::lastGeocodeOK,
                            P::isGeocoding, P::statusText));
    EXPECT_EQ(recorder.events.size(), 20u);
}

TEST_F(AppModelTest, RefreshKeepsTypedTextsAndSeesOutsideChanges) {
    storePlace(10.0, 20.0);
    const auto model = makeModel();
    model->setLatitudeText("12");
    model->setCityText("Lis");
    filter.setEnabled(true);
    filter.setStrength(0.25);
    settings.setAutomationEnabled(true);
    storePlace(30.0, 40.0);
    EXPECT_FALSE(model->filterOn());  // not until the next refresh
    model->refresh();
    EXPECT_TRUE(model->filterOn());
    EXPECT_DOUBLE_EQ(model->strength(), 0.25);
    EXPECT_TRUE(model->automationEnabled());
    EXPECT_EQ(model->statusText(), "On · auto");
    EXPECT_EQ(model->latitudeText(), "12");
    EXPECT_EQ(model->longitudeText(), "20");
    EXPECT_EQ(model->cityText(), "Lis");
}

TEST_F(AppModelTest, SetAutomationTwiceStoresReconcilesAndRefreshesTwice) {
    storePlace(38.7223, -9.1393);  // night at the clock's instant: the schedule wants on
    const auto model = makeModel();
    PropertyRecorder recorder(*model);
    settingsStore.writes.clear();

    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());
    filter.setEnabled(false);  // a manual change between the two calls
    model->setAutomation(true);
    EXPECT_TRUE(filter.enabled());  // the second call reconciled again

    EXPECT_THAT(settingsStore.writes,
                ElementsAre("automationEnabled=true", "automationEnabled=true"));
    const std::vector<P> once = {P::automationEnabled, P::filterOn, P::strength,
                                 P::automationEnabled, P::statusText};
    std::vector<P> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(recorder.changedProperties(), twice);
    EXPECT_EQ(model->statusText(), "On · auto");
}

TEST_F(AppModelTest, SwitchingAutomationOffLeavesTheLiveStateAlone) {
    storePlace(38.7223, -9.1393);
    settings.setAutomationEnabled(true);
    filter.setEnabled(false);  // against the schedule's wish
    const auto model = makeModel();
    model->setAutomation(false);
    EXPECT_FALSE(filter.enabled());
    EXPECT_FALSE(settings.automationEnabled());
    EXPECT_FALSE(model->automationEnabled());
    EXPECT_EQ(model->statusText(), "Off");
}

struct ApplyCase {
    const char* latitudeText;
    const char* longitudeText;
    std::optional<double> latitude;  // stored afterwards
    std::optional<double> longitude;
};

// Before each case the settings hold latitude 1 and longitude 2.
class ApplyLocationTest : public ModelFixture, public ::testing::WithParamInterface<ApplyCase> {};

TEST_P(ApplyLocationTest, StoresEachValidCoordinateOnItsOwn) {
    const auto& c = GetParam();
    storePlace(1.0, 2.0);
    const auto model = makeModel();
    model->setLatitudeText(QString::fromUtf8(c.latitudeText));
    model->setLongitudeText(QString::fromUtf8(c.longitudeText));
    model->applyLocation();
    EXPECT_EQ(settings.latitude(), c.latitude);
    EXPECT_EQ(settings.longitude(), c.longitude);
    // The texts stay exactly as typed.
    EXPECT_EQ(model->latitudeText(), QString::fromUtf8(c.latitudeText));
    EXPECT_EQ(model->longitudeText(), QString::fromUtf8(c.longitudeText));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ApplyLocationTest,
    ::testing::Values(ApplyCase{" 38.7 ", "-9.14", 38.7, -9.14},
                      ApplyCase{"91", "-9.14", 1.0, -9.14}, ApplyCase{"38.7", "180.5", 38.7, 2.0},
                      ApplyCase{"38,7", "-9.14", 1.0, -9.14}, ApplyCase{"1e1", "0x1p4", 10.0, 16.0},
                      ApplyCase{"inf", "nan", 1.0, 2.0}, ApplyCase{"-inf", "infinity", 1.0, 2.0},
                      ApplyCase{"90", "-180", 90.0, -180.0},
                      ApplyCase{"-90.0000001", "180.0000001", 1.0, 2.0},
                      ApplyCase{"", "", 1.0, 2.0}, ApplyCase{"   ", "\t", 1.0, 2.0},
                      // TAB, no-break space and thin space are trimmed
                      ApplyCase{"\t38.7\u00a0", "\u2009-9.14\u3000", 38.7, -9.14},
                      // line breaks are not, so the number rule rejects them
                      ApplyCase{"\n38.7", "-9.14\n", 1.0, 2.0},
                      ApplyCase{"38.7 N", "+9.14", 1.0, 9.14}, ApplyCase{"0", "-0", 0.0, -0.0}));

TEST_F(AppModelTest, ApplyLocationShowsNoMessageButReconcilesAndRefreshes) {
    settings.setAutomationEnabled(true);
    settings.setLocationName("Somewhere");
    const auto model = makeModel();
    model->setCityText("typed");
    model->setGeocodeMessage("earlier message");
    model->setLastGeocodeOK(false);
    model->setLatitudeText("38.7223");
    model->setLongitudeText("-9.1393");
    PropertyRecorder recorder(*model);
    model->applyLocation();
    EXPECT_TRUE(filter.enabled());  // the pass switched the filter on for the night
    EXPECT_EQ(model->statusText(), "On · auto");
    EXPECT_THAT(recorder.changedProperties(),
                ElementsAre(P::filterOn, P::strength, P::automationEnabled, P::statusText));
    EXPECT_EQ(model->geocodeMessage(), "earlier message");
    EXPECT_FALSE(model->lastGeocodeOK());
    EXPECT_EQ(model->cityText(), "typed");
    EXPECT_EQ(settings.locationName(), "Somewhere");
}

TEST_F(AppModelTest, ApplyLocationWithNothingValidStillReconcilesAndRefreshes) {
    storePlace(38.7223, -9.1393);
    settings.setAutomationEnabled(true);
    const auto model = makeModel();
    model->setLatitudeText("north");
    PropertyRecorder recorder(*model);
    model->applyLocation();
    EXPECT_TRUE(filter.enabled());
    EXPECT_EQ(recorder.changedProperties().size(), 4u);
    EXPECT_EQ(settings.latitude(), 38.7223);
}

}  // namespace
}  // namespace vesperine::testing
