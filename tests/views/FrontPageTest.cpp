// The front page: the run/pause control's looks and presses, the place row.
#include <QApplication>
#include <QTest>

#include <algorithm>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/FrontPage.h"
#include "views/Palette.h"
#include "views/PanelWidgets.h"
#include "views/RunPauseButton.h"
#include "views/Symbols.h"

namespace vesperine {
namespace {

using testing::child;

using testing::ModelRig;
using testing::near;
using testing::pixelAt;
using Property = AppModel::Property;

QStringList texts(QWidget& root) {
    QStringList found;
    for (TextView* view : testing::all<TextView>(root)) {
        found << view->text();
    }
    return found;
}

QColor over(const QColor& top, const QColor& bottom) {
    const float a = top.alphaF();
    return QColor::fromRgbF(top.redF() * a + bottom.redF() * (1 - a),
                            top.greenF() * a + bottom.greenF() * (1 - a),
                            top.blueF() * a + bottom.blueF() * (1 - a));
}

class FrontPageTest : public ::testing::Test {
  protected:
    ModelRig rig;
};

TEST_F(FrontPageTest, RunningAndPausedLooks) {
    rig.filter.setEnabled(true);
    AppModel& model = rig.make();
    FrontPage page(model, [] {});
    testing::showAtWidth(page);
    RunPauseButton& control = child<RunPauseButton>(page, "runPauseButton");
    const QPoint origin = control.mapTo(&page, QPoint(0, 0));

    EXPECT_TRUE(control.showsOn());
    EXPECT_TRUE(texts(control).contains("Pause"));
    EXPECT_EQ(testing::all<SymbolView>(control).front()->symbol(), Symbol::pauseFill);
    QImage image = testing::picture(page);
    // Inside the control, in the gap between the title and the status.
    const qreal gapX = origin.x() + control.width() * 0.5;
    const qreal middleY = origin.y() + control.height() / 2.0;
    EXPECT_TRUE(near(pixelAt(image, gapX, middleY), Palette::runOn()));
    // The 1-pixel outline at the top edge: the lighter green at 55 % over the fill.
    EXPECT_TRUE(near(pixelAt(image, gapX, origin.y() + 0.25),
                     over(Palette::runOnBorder(), Palette::runOn()), 3));

    model.setFilterOn(false);
    EXPECT_FALSE(control.showsOn());
    EXPECT_TRUE(texts(control).contains("Run"));
    EXPECT_EQ(testing::all<SymbolView>(control).front()->symbol(), Symbol::playFill);
    image = testing::picture(page);
    EXPECT_TRUE(
        near(pixelAt(image, gapX, middleY), over(Palette::controlFill(), Palette::panel())));
}

TEST_F(FrontPageTest, PressSwitchesFromTheModelsValueAndRefreshesOnce) {
    AppModel& model = rig.make();
    FrontPage page(model, [] {});
    testing::showAtWidth(page);
    RunPauseButton& control = child<RunPauseButton>(page, "runPauseButton");
    // Switched on elsewhere: the control and the press follow the model, not the live state.
    rig.filter.setEnabled(true);
    QApplication::processEvents();
    EXPECT_FALSE(control.showsOn());
    rig.resetCounts();

    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(control.width() / 2, 5));
    EXPECT_TRUE(rig.filter.enabled());
    EXPECT_TRUE(model.filterOn());
    EXPECT_TRUE(control.showsOn());
    EXPECT_EQ(rig.count(Property::statusText), 1);
    EXPECT_EQ(model.statusText(), "On");

    QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(3, control.height() - 3));
    EXPECT_FALSE(rig.filter.enabled());
    EXPECT_FALSE(control.showsOn());
    EXPECT_EQ(rig.count(Property::statusText), 2);
    // The press neither touches the automation flag nor any stored setting.
    EXPECT_FALSE(rig.settingsStore.value("automationEnabled").has_value());
}

TEST_F(FrontPageTest, AScreenOutOfReachIsSaidOnceUnderTheControlUntilReachedAgain) {
    FrontPage page(rig.make(), [] {});
    testing::showAtWidth(page);
    TextView& notice = child<TextView>(page, "screenNotice");
    EXPECT_FALSE(notice.isVisible());
    rig.display.outcome = DisplayOutcome::failed("the compositor refused the gamma ramps");
    QTest::mouseClick(&child<RunPauseButton>(page, "runPauseButton"), Qt::LeftButton);
    EXPECT_TRUE(notice.isVisible());
    EXPECT_EQ(notice.text(), "Can’t reach the screen: the compositor refused the gamma ramps");
    rig.display.outcome = DisplayOutcome::reachedScreen();
    QTest::mouseClick(&child<RunPauseButton>(page, "runPauseButton"), Qt::LeftButton);
    EXPECT_FALSE(notice.isVisible());
}

TEST_F(FrontPageTest, PlaceRowPrefersTheStoredName) {
    rig.settings.setLatitude(38.722312);
    rig.settings.setLongitude(-9.1393);
    rig.settings.setLocationName("Lisbon, Portugal");
    AppModel& model = rig.make();
    model.setCityText("Porto");
    FrontPage page(model, [] {});
    EXPECT_EQ(child<TextView>(page, "placeLabel").text(), "Lisbon, Portugal");

    rig.settings.setLocationName(std::nullopt);
    model.refresh();
    EXPECT_EQ(child<TextView>(page, "placeLabel").text(), "38.7223, -9.1393");

    rig.settings.setLatitude(95);
    model.refresh();
    EXPECT_EQ(child<TextView>(page, "placeLabel").text(), "Not set");
}

TEST_F(FrontPageTest, LongPlaceNameIsCutAndTheChevronStays) {
    rig.settings.setLocationName(
        "Llanfairpwllgwyngyllgogerychwyrndrobwllllantysiliogogogoch, Isle of Anglesey, Wales");
    AppModel& model = rig.make();
    FrontPage page(model, [] {});
    testing::showAtWidth(page);
    TextView& label = child<TextView>(page, "placeLabel");
    EXPECT_TRUE(label.shownText().endsWith(QChar(0x2026))) << label.shownText().toStdString();
    const auto symbols = testing::all<SymbolView>(child<PlainButton>(page, "placeRow"));
    const auto chevron = std::find_if(symbols.begin(), symbols.end(), [](const SymbolView* symbol) {
        return symbol->symbol() == Symbol::chevronRight;
    });
    ASSERT_NE(chevron, symbols.end());
    const QRect chevronBox((*chevron)->mapTo(&page, QPoint(0, 0)), (*chevron)->size());
    const QRect labelBox(label.mapTo(&page, QPoint(0, 0)), label.size());
    EXPECT_GT(chevronBox.width(), 0);
    EXPECT_LE(chevronBox.right(), 288 - 16);
    EXPECT_LT(labelBox.right(), chevronBox.left());
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), label.width());
}

TEST_F(FrontPageTest, GearAndEveryPartOfThePlaceRowOpenSettings) {
    AppModel& model = rig.make();
    int opened = 0;
    FrontPage page(model, [&] { ++opened; });
    testing::showAtWidth(page);

    QTest::mouseClick(&child<PlainButton>(page, "settingsButton"), Qt::LeftButton);
    EXPECT_EQ(opened, 1);

    PlainButton& row = child<PlainButton>(page, "placeRow");
    // On the text, in the empty gap, and on the chevron.
    for (const qreal share : {0.15, 0.6, 0.98}) {
        QTest::mouseClick(&row, Qt::LeftButton, {},
                          QPoint(static_cast<int>(row.width() * share), row.height() / 2));
    }
    EXPECT_EQ(opened, 4);
}

}  // namespace
}  // namespace vesperine
