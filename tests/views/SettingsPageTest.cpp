// The settings page's controls, driven like a user would.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/AutomaticControl.h"
#include "views/LocationControl.h"
#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"
#include "views/StrengthControl.h"

namespace vesperine {
namespace {

using testing::child;

using testing::ModelRig;
using Property = AppModel::Property;

using testing::settle;

class SettingsPageTest : public ::testing::Test {
  protected:
    SettingsPage& open(bool expanded = false) {
        AppModel& model = rig.model ? *rig.model : rig.make();
        page = std::make_unique<SettingsPage>(
            model, [] {}, [] {}, expanded);
        testing::showAtWidth(*page);
        return *page;
    }
    LocationControl& location() { return child<LocationControl>(*page, "locationControl"); }

    ModelRig rig;
    std::unique_ptr<SettingsPage> page;
};

TEST_F(SettingsPageTest, ThePercentRoundsHalvesAwayFromZero) {
    rig.filter.setStrength(0.62);
    open();
    EXPECT_EQ(child<PanelSlider>(*page, "strengthSlider").value(), 6200);
    PercentText& percent = child<PercentText>(*page, "strengthPercent");
    EXPECT_EQ(percent.text(), "62%");
    for (const auto& [strength, text] :
         {std::pair{0.0, "0%"}, {0.004, "0%"}, {0.625, "63%"}, {1.0, "100%"}}) {
        EXPECT_EQ(StrengthControl::percentText(strength), text) << strength;
        rig.model->setStrength(strength);
        EXPECT_EQ(percent.text(), text) << strength;
    }
}

TEST_F(SettingsPageTest, TheThumbTintsAsItMovesAndStoresWhereItStops) {
    rig.filter.setEnabled(true);
    open();
    PanelSlider& slider = child<PanelSlider>(*page, "strengthSlider");
    rig.resetCounts();

    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(0, slider.height() / 2));
    EXPECT_EQ(rig.filter.strength(), 0.0);
    EXPECT_EQ(child<PercentText>(*page, "strengthPercent").text(), "0%");
    // At 0 the filter stays on, showing no tint.
    ASSERT_FALSE(rig.display.applies.empty());
    EXPECT_TRUE(rig.display.applies.back().enabled);
    EXPECT_EQ(rig.display.applies.back().strength, 0.0);
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, slider.height() / 2));
    double last = -1;
    for (int x = 1; x <= slider.width(); ++x) {
        QTest::mouseMove(&slider, QPoint(x, slider.height() / 2));
        const double shown = rig.model->strength();
        ASSERT_EQ(shown, slider.valueAt(x) / static_cast<double>(StrengthControl::steps));
        ASSERT_GE(shown, last);
        last = shown;
    }
    EXPECT_EQ(rig.filter.strength(), 0.0);  // not stored on every move
    QTest::qWait(2 * AppModel::strengthFrameMilliseconds);
    EXPECT_EQ(rig.display.applies.back().strength, last);  // but on screen within a frame
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.width() + 40, 4));
    EXPECT_EQ(rig.filter.strength(), 1.0);
    EXPECT_EQ(rig.display.applies.back().strength, 1.0);
    EXPECT_EQ(child<PercentText>(*page, "strengthPercent").text(), "100%");
    // A key moves it without a drag; the value is stored once the keys pause.
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.filter.strength() == 0.99; }, 2000));
    // The slider never refreshes the model, stores a setting or switches the filter.
    EXPECT_EQ(rig.count(Property::statusText), 0);
    EXPECT_EQ(rig.count(Property::filterOn), 0);
    EXPECT_TRUE(rig.filter.enabled());
    EXPECT_TRUE(rig.settingsStore.value("latitude") == std::nullopt);
}

TEST_F(SettingsPageTest, ReturnInACoordinateFieldSetsAndTextsThatWouldNotStoreAreMarked) {
    open(true);
    QLineEdit& latitude = child<QLineEdit>(location(), "latitudeField");
    QLineEdit& longitude = child<QLineEdit>(location(), "longitudeField");
    const QString warn = Palette::warn().name();
    QTest::keyClicks(&latitude, "91");
    QTest::keyClicks(&longitude, "-8.61");
    EXPECT_TRUE(latitude.styleSheet().contains(warn));
    EXPECT_FALSE(longitude.styleSheet().contains(warn));
    QTest::keyClick(&latitude, Qt::Key_Backspace);
    EXPECT_FALSE(latitude.styleSheet().contains(warn));  // "9" is a latitude
    QTest::keyClicks(&latitude, ".5");
    QTest::keyClick(&longitude, Qt::Key_Return);
    EXPECT_EQ(rig.settings.latitude(), 9.5);
    EXPECT_EQ(rig.settings.longitude(), -8.61);
    EXPECT_TRUE(rig.geocoder->names.empty());
}

TEST_F(SettingsPageTest, AFieldNotBeingEditedShowsTheBeginningOfItsText) {
    rig.make().setCityText("Springfield, United States of America");
    open();
    QLineEdit& city = child<QLineEdit>(location(), "cityField");
    EXPECT_EQ(city.cursorPosition(), 0);
    city.setFocus();
    city.end(false);
    city.clearFocus();
    EXPECT_EQ(city.cursorPosition(), 0);
}

TEST_F(SettingsPageTest, FindShowsTheLookupWhileItRuns) {
    open();
    QPushButton& find = child<QPushButton>(location(), "findButton");
    QLineEdit& city = child<QLineEdit>(location(), "cityField");
    QTest::keyClicks(&city, "Lisbon");
    EXPECT_EQ(rig.model->cityText(), "Lisbon");
    QTest::keyClick(&city, Qt::Key_Return);
    ASSERT_EQ(rig.geocoder->names, std::vector<QString>{"Lisbon"});
    EXPECT_TRUE(rig.model->isGeocoding());
    EXPECT_FALSE(find.isEnabled());
    EXPECT_TRUE(child<BusyIndicator>(location(), "busyIndicator").isVisible());

    // Disabled: a click does nothing. Return is not blocked.
    QTest::mouseClick(&find, Qt::LeftButton);
    EXPECT_EQ(rig.geocoder->names.size(), 1u);
    QTest::keyClick(&city, Qt::Key_Return);
    EXPECT_EQ(rig.geocoder->names.size(), 2u);

    rig.geocoder->complete(std::vector<Placemark>{});
    EXPECT_FALSE(rig.model->isGeocoding());
    EXPECT_TRUE(find.isEnabled());
    EXPECT_FALSE(child<BusyIndicator>(location(), "busyIndicator").isVisible());
}

TEST_F(SettingsPageTest, MessageRowShowsTheStoredPlaceOrNothing) {
    rig.settings.setLatitude(38.7223);
    rig.settings.setLongitude(-9.1393);
    rig.settings.setLocationName("Lisbon, Portugal");
    open();
    TextView& message = child<TextView>(location(), "locationMessage");
    EXPECT_TRUE(message.isVisible());
    EXPECT_EQ(message.text(), "Lisbon, Portugal");

    rig.settings.setLatitude(std::nullopt);
    rig.model->refresh();
    EXPECT_FALSE(message.isVisible());
    EXPECT_TRUE(child<PlainButton>(location(), "fineTuneLink").isVisible());
}

TEST_F(SettingsPageTest, FailureMessageIsWarmAndWraps) {
    open();
    const QString failure = QStringLiteral(
        "No place called \u201CAtlantis under the sea\u201D was found. Check the spelling or "
        "type latitude and longitude.");
    rig.model->setLastGeocodeOK(false);
    rig.model->setGeocodeMessage(failure);
    QApplication::processEvents();
    TextView& message = child<TextView>(location(), "locationMessage");
    EXPECT_EQ(message.text(), failure);
    EXPECT_EQ(message.colour(), Palette::warn());
    // Laid out again at the panel's width, the page makes room for every line.
    testing::showAtWidth(*page);
    EXPECT_GE(message.height(), 3 * message.fontMetrics().height() - 1);

    rig.model->setLastGeocodeOK(true);
    rig.model->setGeocodeMessage(QStringLiteral("Looking up\u2026"));
    EXPECT_EQ(message.colour(), Palette::secondaryForeground());
}

TEST_F(SettingsPageTest, LinkOpensAndClosesTheCoordinatesRow) {
    open();
    RevealBox& row = child<RevealBox>(location(), "coordinatesRow");
    EXPECT_FALSE(row.isVisible());
    const int closedHeight = page->heightForWidth(288);

    QTest::mouseClick(&child<PlainButton>(location(), "fineTuneLink"), Qt::LeftButton);
    EXPECT_EQ(child<TextView>(location(), "fineTuneLinkText").text(), "Hide lat/long");
    settle();
    EXPECT_TRUE(row.isVisible());
    EXPECT_TRUE(child<QPushButton>(location(), "setButton").isVisible());
    EXPECT_GT(page->heightForWidth(288), closedHeight + 16);

    QTest::mouseClick(&child<PlainButton>(location(), "fineTuneLink"), Qt::LeftButton);
    EXPECT_EQ(child<TextView>(location(), "fineTuneLinkText").text(), "Lat/long");
    settle();
    EXPECT_FALSE(row.isVisible());
    EXPECT_EQ(page->heightForWidth(288), closedHeight);
}

TEST_F(SettingsPageTest, AutomaticAsksTheModelAndShowsWhatItHolds) {
    rig.settings.setLatitude(38.72);
    rig.settings.setLongitude(-9.14);
    open();
    SwitchToggle& toggle = child<SwitchToggle>(*page, "automaticSwitch");
    EXPECT_FALSE(toggle.isOn());
    rig.resetCounts();

    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_TRUE(rig.settings.automationEnabled());
    EXPECT_TRUE(toggle.isOn());
    // One setAutomation: its own assignment, then one refresh.
    EXPECT_EQ(rig.count(Property::automationEnabled), 2);
    EXPECT_EQ(rig.count(Property::statusText), 1);

    QTest::mouseClick(&toggle, Qt::LeftButton);
    EXPECT_FALSE(rig.settings.automationEnabled());
    EXPECT_FALSE(toggle.isOn());

    // The switch follows the model, not its own clicks.
    rig.model->setAutomationEnabled(true);
    EXPECT_TRUE(toggle.isOn());
}

}  // namespace
}  // namespace vesperine
