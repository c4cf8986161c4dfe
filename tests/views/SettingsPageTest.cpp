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

TEST(StrengthPercentTest, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(StrengthControl::percentText(0.62), "62%");
    EXPECT_EQ(StrengthControl::percentText(0.0), "0%");
    EXPECT_EQ(StrengthControl::percentText(1.0), "100%");
    EXPECT_EQ(StrengthControl::percentText(0.625), "63%");
    EXPECT_EQ(StrengthControl::percentText(0.004), "0%");
}

TEST_F(SettingsPageTest, SliderShowsTheModelsStrength) {
    rig.filter.setStrength(0.62);
    open();
    StrengthControl& strength = child<StrengthControl>(*page, "strengthControl");
    EXPECT_EQ(child<PercentText>(strength, "strengthPercent").text(), "62%");
    EXPECT_EQ(child<PanelSlider>(strength, "strengthSlider").value(), 6200);
    rig.model->setStrength(0.625);
    EXPECT_EQ(child<PercentText>(strength, "strengthPercent").text(), "63%");
    EXPECT_EQ(child<PercentText>(strength, "strengthPercent").width(), 36);
}

TEST_F(SettingsPageTest, EveryThumbPositionReachesTheLiveStrength) {
    open();
    PanelSlider& slider = child<PanelSlider>(*page, "strengthSlider");
    rig.resetCounts();
    const auto before = rig.settingsStore.value("latitude");

    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, slider.height() / 2));
    EXPECT_EQ(rig.filter.strength(), 0.0);
    EXPECT_EQ(rig.model->strength(), 0.0);
    EXPECT_EQ(child<PercentText>(*page, "strengthPercent").text(), "0%");
    double last = -1;
    for (int x = 1; x <= slider.width(); ++x) {
        QTest::mouseMove(&slider, QPoint(x, slider.height() / 2));
        const double live = rig.filter.strength();
        ASSERT_EQ(rig.model->strength(), live);
        ASSERT_EQ(live, slider.valueAt(x) / static_cast<double>(StrengthControl::steps));
        ASSERT_GE(live, last);
        last = live;
    }
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.width() + 40, 4));
    EXPECT_EQ(rig.filter.strength(), 1.0);
    EXPECT_EQ(child<PercentText>(*page, "strengthPercent").text(), "100%");

    // Thumb positions one device pixel apart give different strengths.
    const int span = slider.width() - 14;
    EXPECT_GT(StrengthControl::steps, span * 4);
    // The slider never refreshes the model, stores a setting or switches the filter.
    EXPECT_EQ(rig.count(Property::statusText), 0);
    EXPECT_EQ(rig.count(Property::filterOn), 0);
    EXPECT_FALSE(rig.filter.enabled());
    EXPECT_EQ(rig.settingsStore.value("latitude"), before);
}

TEST_F(SettingsPageTest, DraggingToTheLeftEndKeepsTheFilterOn) {
    rig.filter.setEnabled(true);
    rig.filter.setStrength(0.8);
    open();
    PanelSlider& slider = child<PanelSlider>(*page, "strengthSlider");
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(slider.width() / 2, 8));
    QTest::mouseMove(&slider, QPoint(-30, 8));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(-30, 8));
    EXPECT_EQ(rig.filter.strength(), 0.0);
    EXPECT_TRUE(rig.filter.enabled());
    ASSERT_FALSE(rig.display.applies.empty());
    EXPECT_TRUE(rig.display.applies.back().enabled);
    EXPECT_EQ(rig.display.applies.back().strength, 0.0);
}

TEST_F(SettingsPageTest, FieldsEditTheModelAndShowItsTexts) {
    open(true);
    QTest::keyClicks(&child<QLineEdit>(location(), "cityField"), "Porto");
    EXPECT_EQ(rig.model->cityText(), "Porto");
    QTest::keyClicks(&child<QLineEdit>(location(), "latitudeField"), "41.15");
    QTest::keyClicks(&child<QLineEdit>(location(), "longitudeField"), "-8.61");
    EXPECT_EQ(rig.model->latitudeText(), "41.15");
    EXPECT_EQ(rig.model->longitudeText(), "-8.61");

    rig.model->setCityText("Faro");
    EXPECT_EQ(child<QLineEdit>(location(), "cityField").text(), "Faro");
    EXPECT_EQ(child<QLineEdit>(location(), "cityField").placeholderText(), "Your location");
    EXPECT_EQ(child<QLineEdit>(location(), "latitudeField").placeholderText(), "Lat");
    EXPECT_EQ(child<QLineEdit>(location(), "longitudeField").placeholderText(), "Lon");
    EXPECT_EQ(child<QLineEdit>(location(), "latitudeField").alignment() & Qt::AlignHCenter,
              Qt::AlignHCenter);
}

TEST_F(SettingsPageTest, ReturnInTheCoordinateFieldsStoresNothingSetDoes) {
    open(true);
    QTest::keyClicks(&child<QLineEdit>(location(), "latitudeField"), "41.15");
    QTest::keyClicks(&child<QLineEdit>(location(), "longitudeField"), "-8.61");
    QTest::keyClick(&child<QLineEdit>(location(), "latitudeField"), Qt::Key_Return);
    QTest::keyClick(&child<QLineEdit>(location(), "longitudeField"), Qt::Key_Return);
    EXPECT_FALSE(rig.settings.latitude().has_value());
    EXPECT_TRUE(rig.geocoder->names.empty());

    QTest::mouseClick(&child<QPushButton>(location(), "setButton"), Qt::LeftButton);
    EXPECT_EQ(rig.settings.latitude(), 41.15);
    EXPECT_EQ(rig.settings.longitude(), -8.61);
}

TEST_F(SettingsPageTest, FindShowsTheLookupWhileItRuns) {
    open();
    QPushButton& find = child<QPushButton>(location(), "findButton");
    QTest::keyClicks(&child<QLineEdit>(location(), "cityField"), "Lisbon");
    QTest::keyClick(&child<QLineEdit>(location(), "cityField"), Qt::Key_Return);
    ASSERT_EQ(rig.geocoder->names.size(), 1u);
    EXPECT_EQ(rig.geocoder->names[0], "Lisbon");
    EXPECT_TRUE(rig.model->isGeocoding());
    EXPECT_FALSE(find.isEnabled());
    EXPECT_TRUE(find.text().isEmpty());
    EXPECT_TRUE(child<BusyIndicator>(location(), "busyIndicator").isSpinning());
    EXPECT_TRUE(child<BusyIndicator>(location(), "busyIndicator").isVisible());

    // Disabled: a click does nothing. Return is not blocked.
    QTest::mouseClick(&find, Qt::LeftButton);
    EXPECT_EQ(rig.geocoder->names.size(), 1u);
    QTest::keyClick(&child<QLineEdit>(location(), "cityField"), Qt::Key_Return);
    EXPECT_EQ(rig.geocoder->names.size(), 2u);

    Placemark lisbon;
    lisbon.locality = QStringLiteral("Lisbon");
    lisbon.country = QStringLiteral("Portugal");
    lisbon.location = Coordinate{38.7223, -9.1393};
    rig.geocoder->complete(std::vector<Placemark>{lisbon});
    EXPECT_FALSE(rig.model->isGeocoding());
    EXPECT_TRUE(find.isEnabled());
    EXPECT_EQ(find.text(), "Find");
    EXPECT_FALSE(child<BusyIndicator>(location(), "busyIndicator").isVisible());
    EXPECT_EQ(child<TextView>(location(), "locationMessage").colour(),
              Palette::secondaryForeground());

    QTest::mouseClick(&find, Qt::LeftButton);
    EXPECT_EQ(rig.geocoder->names.size(), 3u);
}

TEST_F(SettingsPageTest, MessageRowShowsTheMessageOrTheStoredPlace) {
    rig.settings.setLatitude(38.7223);
    rig.settings.setLongitude(-9.1393);
    rig.settings.setLocationName("Lisbon, Portugal");
    open();
    TextView& message = child<TextView>(location(), "locationMessage");
    EXPECT_TRUE(message.isVisible());
    EXPECT_EQ(message.text(), "Lisbon, Portugal");
    EXPECT_EQ(message.lines(), TextView::Lines::one);

    rig.settings.setLocationName(std::nullopt);
    rig.model->refresh();
    EXPECT_EQ(message.text(), "38.7223, -9.1393");

    rig.settings.setLatitude(std::nullopt);
    rig.model->refresh();
    EXPECT_FALSE(message.isVisible());
    // Only the link is left, at the right edge.
    PlainButton& link = child<PlainButton>(location(), "fineTuneLink");
    EXPECT_TRUE(link.isVisible());
    EXPECT_EQ(child<TextView>(location(), "fineTuneLinkText").text(), "Lat/long");
    EXPECT_EQ(link.mapTo(&location(), QPoint(link.width(), 0)).x(), location().width());
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
    EXPECT_EQ(message.lines(), TextView::Lines::wrapping);
    const int oneLine = message.fontMetrics().height();
    EXPECT_GE(message.heightForWidth(message.width()), 3 * oneLine - 1);
    // Laid out again at the panel's width, the page makes room for every line.
    testing::showAtWidth(*page);
    EXPECT_GE(message.height(), message.heightForWidth(message.width()));
    // A word longer than the line still shows in full, broken across lines.
    rig.model->setGeocodeMessage(QString(200, QLatin1Char('x')));
    EXPECT_GT(message.heightForWidth(100), 2 * oneLine);

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
    EXPECT_TRUE(location().showFineTune());
    settle();
    EXPECT_TRUE(row.isVisible());
    EXPECT_EQ(row.share(), 1.0);
    EXPECT_TRUE(child<QLineEdit>(location(), "latitudeField").isVisible());
    EXPECT_TRUE(child<QPushButton>(location(), "setButton").isVisible());
    EXPECT_EQ(child<QPushButton>(location(), "setButton").text(), "Set");
    const int openHeight = page->heightForWidth(288);
    EXPECT_GT(openHeight, closedHeight + 16);

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

TEST_F(SettingsPageTest, QuitRunsAtOnceAndBackReturns) {
    int quits = 0;
    int backs = 0;
    AppModel& model = rig.make();
    SettingsPage settings(
        model, [&] { ++backs; }, [&] { ++quits; }, false);
    testing::showAtWidth(settings);
    QTest::mouseClick(&child<PlainButton>(settings, "quitRow"), Qt::LeftButton, {},
                      QPoint(child<PlainButton>(settings, "quitRow").width() * 3 / 4, 4));
    EXPECT_EQ(quits, 1);
    QTest::mouseClick(&child<PlainButton>(settings, "backButton"), Qt::LeftButton);
    EXPECT_EQ(backs, 1);
    const QRect quitBox(child<PlainButton>(settings, "quitRow").mapTo(&settings, QPoint(0, 0)),
                        child<PlainButton>(settings, "quitRow").size());
    EXPECT_EQ(quitBox.left(), 16);
    EXPECT_EQ(quitBox.right(), 288 - 16 - 1);
    EXPECT_EQ(settings.height(), quitBox.bottom() + 1 + 11);
}

}  // namespace
}  // namespace vesperine
