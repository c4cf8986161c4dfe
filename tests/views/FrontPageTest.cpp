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

// The press follows the model, not the live state, and the looks follow the press.
TEST_F(FrontPageTest, PressSwitchesFromTheModelsValueRefreshesOnceAndChangesTheLook) {
    AppModel& model = rig.make();
    FrontPage page(model, [] {});
    testing::showAtWidth(page);
    RunPauseButton& control = child<RunPauseButton>(page, "runPauseButton");
    rig.filter.setEnabled(true);  // switched on elsewhere
    QApplication::processEvents();
    EXPECT_FALSE(control.showsOn());
    rig.resetCounts();
    const QPoint origin = control.mapTo(&page, QPoint(0, 0));
    const qreal gapX = origin.x() + control.width() * 0.5;  // between title and status
    const qreal middleY = origin.y() + control.height() / 2.0;
    struct Look {
        bool on;
        const char* title;
        Symbol symbol;
        QColor fill;
    };
    const Look looks[] = {
        {true, "Pause", Symbol::pauseFill, Palette::runOn()},
        {false, "Run", Symbol::playFill, over(Palette::controlFill(), Palette::panel())}};
    int presses = 0;
    for (const Look& look : looks) {
        QTest::mouseClick(&control, Qt::LeftButton, {}, QPoint(3 + presses, control.height() - 3));
        ++presses;
        EXPECT_EQ(rig.filter.enabled(), look.on);
        EXPECT_EQ(model.filterOn(), look.on);
        EXPECT_EQ(control.showsOn(), look.on);
        EXPECT_EQ(rig.count(Property::statusText), presses);
        EXPECT_TRUE(texts(control).contains(look.title));
        EXPECT_EQ(testing::all<SymbolView>(control).front()->symbol(), look.symbol);
        const QImage image = testing::picture(page);
        EXPECT_TRUE(near(pixelAt(image, gapX, middleY), look.fill)) << look.title;
    }
    EXPECT_EQ(model.statusText(), "Off");
    // Running, the 1-pixel outline at the top edge is the lighter green at 55 % over the fill.
    QTest::mouseClick(&control, Qt::LeftButton);
    EXPECT_TRUE(near(pixelAt(testing::picture(page), gapX, origin.y() + 0.25),
                     over(Palette::runOnBorder(), Palette::runOn()), 3));
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
    EXPECT_LE(chevronBox.right(), Palette::panelWidth - 16);
    EXPECT_LT(labelBox.right(), chevronBox.left());
    EXPECT_LE(label.fontMetrics().horizontalAdvance(label.shownText()), label.width());
    // The row follows the stored place at the next refresh.
    rig.settings.setLocationName(std::nullopt);
    model.refresh();
    EXPECT_EQ(label.text(), "Not set");
}

TEST_F(FrontPageTest, EveryPartOfThePlaceRowOpensSettings) {
    int opened = 0;
    FrontPage page(rig.make(), [&] { ++opened; });
    testing::showAtWidth(page);
    PlainButton& row = child<PlainButton>(page, "placeRow");
    // On the text, in the empty gap, and on the chevron.
    for (const qreal share : {0.15, 0.6, 0.98}) {
        QTest::mouseClick(&row, Qt::LeftButton, {},
                          QPoint(static_cast<int>(row.width() * share), row.height() / 2));
    }
    EXPECT_EQ(opened, 3);
}

}  // namespace
}  // namespace vesperine
