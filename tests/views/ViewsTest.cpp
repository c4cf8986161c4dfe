// The panel's pages driven like a user would: the front page's run/pause
// control and place row, the settings page's controls, and the animated
// switch between the two.
#include <QGraphicsEffect>
#include <QLineEdit>
#include <QPushButton>

#include <utility>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/FrontPage.h"
#include "views/PanelView.h"
#include "views/PanelWidgets.h"
#include "views/RunPauseButton.h"
#include "views/SettingsPage.h"
#include "views/Symbols.h"

namespace vesperine {
namespace {

using testing::child;
using testing::near;
using testing::pixelAt;
using testing::settle;
using Property = AppModel::Property;

QColor over(const QColor& top, const QColor& bottom) {
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a),
                            top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
}

class PanelViewsTest : public ::testing::Test {
  protected:
    void show(std::unique_ptr<QWidget> shown) {
        page = std::move(shown);
        testing::showAtWidth(*page);
    }
    AppModel& model() { return rig.model ? *rig.model : rig.make(); }
    void openFront(std::function<void()> openSettings = [] {}) {
        show(std::make_unique<FrontPage>(model(), std::move(openSettings)));
    }
    void openSettings(bool expanded = false) {
        show(std::make_unique<SettingsPage>(
            model(), [] {}, [] {}, expanded));
    }

    testing::ModelRig rig;
    std::unique_ptr<QWidget> page;
};

// The press follows the model, not the live state, and the looks follow the press.
TEST_F(PanelViewsTest, RunPauseSwitchesFromTheModelsValueRefreshesOnceAndChangesTheLook) {
    openFront();
    auto& control = child<RunPauseButton>(*page, "runPauseButton");
    rig.filter.setEnabled(true);  // switched on elsewhere
    rig.changed.clear();
    const QPoint origin = control.mapTo(page.get(), QPoint(0, 0));
    const qreal gapX = origin.x() + control.width() * 0.5;  // between title and status
    const struct {
        bool on;
        const char* title;
        Symbol symbol;
        QColor fill;
    } looks[] = {{true, "Pause", Symbol::pauseFill, Palette::runOn()},
                 {false, "Run", Symbol::playFill, over(Palette::controlFill(), Palette::panel())}};
    int presses = 0;
    for (const auto& look : looks) {
        QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(3 + presses, control.height() - 3));
        EXPECT_EQ(rig.filter.enabled(), look.on);
        EXPECT_EQ(rig.count(Property::statusText), ++presses);
        EXPECT_EQ(control.findChildren<TextView*>().front()->text().toStdString(), look.title);
        EXPECT_EQ(control.findChildren<SymbolView*>().front()->symbol(), look.symbol);
        EXPECT_TRUE(near(pixelAt(*page, gapX, origin.y() + control.height() / 2.0), look.fill));
    }
    // Running, the 1-pixel outline at the top edge is the lighter green at 55 % over the fill.
    QTest::mouseClick(&control, Qt::LeftButton);
    EXPECT_TRUE(near(pixelAt(*page, gapX, origin.y() + 0.25),
                     over(Palette::runOnBorder(), Palette::runOn()), 3));
    // The press neither touches the automation flag nor any stored setting.
    EXPECT_TRUE(rig.settingsStore.writes.empty());

    // A screen out of reach is said under the control until it is reached again.
    auto& notice = child<TextView>(*page, "screenNotice");
    EXPECT_FALSE(notice.isVisible());
    rig.display.outcome = DisplayOutcome::failed("the compositor refused the gamma ramps");
    QTest::mouseClick(&control, Qt::LeftButton);
    EXPECT_TRUE(notice.isVisible());
    EXPECT_EQ(notice.text(), "Can’t reach the screen: the compositor refused the gamma ramps");
    rig.display.outcome = DisplayOutcome::reachedScreen();
    QTest::mouseClick(&control, Qt::LeftButton);
    EXPECT_FALSE(notice.isVisible());
}

TEST_F(PanelViewsTest, ALongPlaceNameIsCutTheChevronStaysAndTheWholeRowOpensSettings) {
    rig.settings.setLocationName(
        "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch, Isle of Anglesey, Wales");
    int opened = 0;
    openFront([&] { ++opened; });
    auto& label = child<TextView>(*page, "placeLabel");
    auto& row = child<PlainButton>(*page, "placeRow");
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026))) << label.shownText().toStdString();
    const SymbolView* chevron = row.findChildren<SymbolView*>().back();
    ASSERT_EQ(chevron->symbol(), Symbol::chevronRight);
    const QRect chevronBox(chevron->mapTo(page.get(), QPoint(0, 0)), chevron->size());
    EXPECT_LE(chevronBox.right(), Palette::panelWidth - 16);
    EXPECT_LT(label.mapTo(page.get(), QPoint(label.width() - 1, 0)).x(), chevronBox.left());
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), label.width());
    // On the text, in the empty gap, and on the chevron.
    for (const qreal share : {0.15, 0.6, 0.98}) {
        QTest::mouseClick(&row, Qt::LeftButton, {},
                          QPoint(static_cast<int>(row.width() * share), row.height() / 2));
    }
    EXPECT_EQ(opened, 3);
    // The row follows the stored place at the next refresh.
    rig.settings.setLocationName(std::nullopt);
    rig.model->refresh();
    EXPECT_EQ(label.text(), "Not set");
}

// How fast a drag stores and whether the screen follows it is the end-to-end
// test's; here, where the thumb goes and what a click, a release and a key store.
TEST_F(PanelViewsTest, TheSliderShowsTheStrengthAndStoresWhereItStops) {
    rig.filter.setEnabled(true);
    rig.filter.setStrength(0.62);
    openSettings();
    auto& slider = child<PanelSlider>(*page, "strengthSlider");
    auto& percent = child<PercentText>(*page, "strengthPercent");
    EXPECT_EQ(slider.value(), 6200);
    // The percent rounds halves away from zero.
    for (const auto& [strength, text] :
         {std::pair{0.62, "62%"}, {0.004, "0%"}, {0.625, "63%"}, {1.0, "100%"}}) {
        rig.model->setStrength(strength);
        EXPECT_EQ(percent.text(), text) << strength;
    }
    rig.changed.clear();

    const int middle = slider.height() / 2;
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(0, middle));
    EXPECT_EQ(rig.filter.strength(), 0.0);
    EXPECT_EQ(percent.text(), "0%");
    // At 0 the filter stays on, showing no tint.
    ASSERT_FALSE(rig.display.applies.empty());
    EXPECT_EQ(rig.display.applies.back(), std::pair(true, 0.0));
    QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(0, middle));
    QTest::mouseMove(&slider, QPoint(slider.width() / 2, middle));
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(slider.width() + 40, 4));
    EXPECT_EQ(rig.filter.strength(), 1.0);
    EXPECT_EQ(percent.text(), "100%");
    // A key moves it without a drag; the value is stored once the keys pause.
    QTest::keyClick(&slider, Qt::Key_Left);
    EXPECT_TRUE(QTest::qWaitFor([&] { return rig.filter.strength() == 0.99; }, 2000));
    // The slider never refreshes the model, stores a setting or switches the filter.
    EXPECT_EQ(rig.count(Property::statusText), 0);
    EXPECT_TRUE(rig.filter.enabled());
    EXPECT_TRUE(rig.settingsStore.writes.empty());
}

TEST_F(PanelViewsTest, ReturnInACoordinateFieldSetsAndTextsThatWouldNotStoreAreMarked) {
    openSettings(true);
    auto& latitude = child<QLineEdit>(*page, "latitudeField");
    auto& longitude = child<QLineEdit>(*page, "longitudeField");
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
    EXPECT_TRUE(rig.script->lookups.empty());
}

TEST_F(PanelViewsTest, FindShowsTheLookupWhileItRunsAndAFieldLeftShowsItsBeginning) {
    rig.make().setCityText("Springfield, United States of America");
    openSettings();
    auto& find = child<QPushButton>(*page, "findButton");
    auto& city = child<QLineEdit>(*page, "cityField");
    auto& busy = child<BusyIndicator>(*page, "busyIndicator");
    EXPECT_EQ(city.cursorPosition(), 0);
    city.setFocus();
    city.end(false);
    city.clearFocus();
    EXPECT_EQ(city.cursorPosition(), 0);

    city.selectAll();
    QTest::keyClicks(&city, "Lisbon");
    QTest::keyClick(&city, Qt::Key_Return);
    ASSERT_EQ(rig.script->calls.back(), "geocode:Lisbon");
    EXPECT_FALSE(find.isEnabled());
    EXPECT_TRUE(busy.isVisible());
    // Disabled: a click does nothing. Return is not blocked.
    QTest::mouseClick(&find, Qt::LeftButton);
    EXPECT_EQ(rig.script->lookups.size(), 1u);
    QTest::keyClick(&city, Qt::Key_Return);
    EXPECT_EQ(rig.script->lookups.size(), 2u);

    rig.script->answerLast(testing::found({}));
    EXPECT_TRUE(find.isEnabled());
    EXPECT_FALSE(busy.isVisible());
}

TEST_F(PanelViewsTest, MessageRowShowsALookupsOutcomeTheStoredPlaceOrNothing) {
    rig.storePlace(38.7223, -9.1393);
    rig.settings.setLocationName("Lisbon, Portugal");
    openSettings();
    auto& message = child<TextView>(*page, "locationMessage");
    EXPECT_TRUE(message.isVisible());
    EXPECT_EQ(message.text(), "Lisbon, Portugal");

    // A failure is warm and wraps: laid out again, the page makes room for every line.
    const QString failure = QStringLiteral(
        "No place called \u201CAtlantis under the sea\u201D was found. Check the spelling or "
        "type latitude and longitude.");
    rig.model->setLastGeocodeOK(false);
    rig.model->setGeocodeMessage(failure);
    QApplication::processEvents();
    EXPECT_EQ(message.text(), failure);
    EXPECT_EQ(message.colour(), Palette::warn());
    testing::showAtWidth(*page);
    EXPECT_GE(message.height(), 3 * message.fontMetrics().height() - 1);
    rig.model->setLastGeocodeOK(true);
    rig.model->setGeocodeMessage(QStringLiteral("Looking up\u2026"));
    EXPECT_EQ(message.colour(), Palette::secondaryForeground());

    rig.model->setGeocodeMessage(QString());
    rig.settings.setLatitude(std::nullopt);
    rig.model->refresh();
    EXPECT_FALSE(message.isVisible());
    EXPECT_TRUE(child<PlainButton>(*page, "fineTuneLink").isVisible());
}

// A click asks the model once (one refresh); the switch shows what the model
// holds, so that the next click switches back.
TEST_F(PanelViewsTest, AutomaticAsksTheModelAndShowsWhatItHolds) {
    openSettings();
    auto& toggle = child<SwitchToggle>(*page, "automaticSwitch");
    rig.changed.clear();
    for (const bool on : {true, false}) {
        QTest::mouseClick(&toggle, Qt::LeftButton);
        EXPECT_EQ(rig.settings.automationEnabled(), on);
        EXPECT_EQ(toggle.isOn(), on);
    }
    EXPECT_EQ(rig.count(Property::statusText), 2);
    rig.model->setAutomationEnabled(true);
    EXPECT_TRUE(toggle.isOn());
}

// Hidden, the switch is immediate; shown, the incoming page fades in. The
// settings page is made anew on every visit, its coordinates row closed. Quick
// switches leave one page.
TEST_F(PanelViewsTest, ThePanelSwitchesPagesWithACrossFadeAndMakesTheSettingsPageAnew) {
    PanelView panel(
        rig.make(), [] {}, Page::settings);
    panel.setPage(Page::front);
    ASSERT_NE(qobject_cast<FrontPage*>(panel.currentPage()), nullptr);
    testing::showAtWidth(panel);
    const int frontHeight = panel.heightForWidth(288);

    QTest::mouseClick(&child<PlainButton>(*panel.currentPage(), "settingsButton"), Qt::LeftButton);
    auto* settings = qobject_cast<SettingsPage*>(panel.currentPage());
    ASSERT_NE(settings, nullptr);
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(settings->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_LT(effect->opacity(), 1.0);
    settle();
    // The link opens the coordinates row (the end-to-end test fills it) and closes it again.
    const int closedHeight = panel.heightForWidth(288);
    for (int click = 0; click < 2; ++click) {
        QTest::mouseClick(&child<PlainButton>(*settings, "fineTuneLink"), Qt::LeftButton);
        settle();
    }
    EXPECT_FALSE(child<RevealBox>(*settings, "coordinatesRow").isVisible());
    EXPECT_EQ(panel.heightForWidth(288), closedHeight);

    QTest::mouseClick(&child<PlainButton>(*settings, "backButton"), Qt::LeftButton);
    settle();
    EXPECT_EQ(panel.heightForWidth(288), frontHeight);
    EXPECT_EQ(panel.findChildren<SettingsPage*>().size(), 0);

    panel.setPage(Page::settings);
    panel.setPage(Page::front);
    panel.setPage(Page::settings);
    panel.setPage(Page::settings);
    settle();
    ASSERT_EQ(panel.findChildren<SettingsPage*>().size(), 1);
    EXPECT_EQ(panel.findChildren<FrontPage*>().size(), 0);
    EXPECT_EQ(panel.currentPage()->graphicsEffect(), nullptr);
    EXPECT_FALSE(child<RevealBox>(*panel.currentPage(), "coordinatesRow").isVisible());
}

}  // namespace
}  // namespace vesperine
