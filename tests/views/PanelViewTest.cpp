// The panel root: width, refresh on coming on screen, the animated page switch.
#include <QApplication>
#include <QEvent>
#include <QGraphicsEffect>
#include <QTest>

#include <gtest/gtest.h>

#include "ViewsTestSupport.h"
#include "views/FrontPage.h"
#include "views/LocationControl.h"
#include "views/PanelView.h"
#include "views/PanelWidgets.h"
#include "views/SettingsPage.h"

namespace vesperine {
namespace {

using testing::child;

using testing::ModelRig;
using Property = AppModel::Property;

// Counts the layout requests a widget receives.
class LayoutRequests : public QObject {
  public:
    explicit LayoutRequests(QWidget& widget) { widget.installEventFilter(this); }
    int count = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        count += event->type() == QEvent::LayoutRequest ? 1 : 0;
        return false;
    }
};

using testing::settle;

class PanelViewTest : public ::testing::Test {
  protected:
    ModelRig rig;
};

TEST_F(PanelViewTest, RefreshesTheModelOnceWhenFirstShown) {
    AppModel& model = rig.make();
    PanelView panel(
        model, [] {}, Page::front);
    EXPECT_EQ(rig.count(Property::statusText), 0);
    testing::showAtWidth(panel);
    EXPECT_EQ(rig.count(Property::statusText), 1);
    panel.hide();
    panel.show();
    QApplication::processEvents();
    EXPECT_EQ(rig.count(Property::statusText), 1);
}

TEST_F(PanelViewTest, SwitchesPagesWithACrossFadeAndFollowsTheirHeight) {
    AppModel& model = rig.make();
    PanelView panel(
        model, [] {}, Page::front);
    testing::showAtWidth(panel);
    const int frontHeight = panel.heightForWidth(288);
    EXPECT_EQ(panel.width(), 288);
    LayoutRequests requests(panel);

    auto* front = qobject_cast<FrontPage*>(panel.currentPage());
    ASSERT_NE(front, nullptr);
    QTest::mouseClick(&child<PlainButton>(*front, "settingsButton"), Qt::LeftButton);
    EXPECT_EQ(panel.page(), Page::settings);
    auto* settings = qobject_cast<SettingsPage*>(panel.currentPage());
    ASSERT_NE(settings, nullptr);
    // Fading in: the incoming page starts transparent.
    auto* effect = qobject_cast<QGraphicsOpacityEffect*>(settings->graphicsEffect());
    ASSERT_NE(effect, nullptr);
    EXPECT_LT(effect->opacity(), 1.0);

    settle();
    EXPECT_EQ(settings->graphicsEffect(), nullptr);
    EXPECT_GT(requests.count, 0);
    const int settingsHeight = panel.heightForWidth(288);
    EXPECT_GT(settingsHeight, frontHeight);
    EXPECT_EQ(panel.width(), 288);
    EXPECT_EQ(settings->width(), 288);

    QTest::mouseClick(&child<PlainButton>(*settings, "backButton"), Qt::LeftButton);
    EXPECT_EQ(panel.page(), Page::front);
    settle();
    EXPECT_EQ(panel.heightForWidth(288), frontHeight);
    EXPECT_EQ(panel.findChildren<SettingsPage*>().size(), 0);
}

TEST_F(PanelViewTest, KeepsItsPageWhenHiddenAndTheCoordinatesRowStartsHidden) {
    AppModel& model = rig.make();
    bool quit = false;
    PanelView panel(
        model, [&] { quit = true; }, Page::front);
    testing::showAtWidth(panel);
    auto* front = qobject_cast<FrontPage*>(panel.currentPage());
    ASSERT_NE(front, nullptr);
    QTest::mouseClick(&child<PlainButton>(*front, "placeRow"), Qt::LeftButton, {},
                      QPoint(child<PlainButton>(*front, "placeRow").width() / 2,
                             child<PlainButton>(*front, "placeRow").height() / 2));
    settle();
    auto* settings = qobject_cast<SettingsPage*>(panel.currentPage());
    ASSERT_NE(settings, nullptr);

    QTest::mouseClick(&child<PlainButton>(*settings, "fineTuneLink"), Qt::LeftButton);
    settle();
    EXPECT_TRUE(child<RevealBox>(*settings, "coordinatesRow").isVisible());

    panel.hide();
    panel.show();
    QApplication::processEvents();
    EXPECT_EQ(panel.page(), Page::settings);

    QTest::mouseClick(&child<PlainButton>(*settings, "backButton"), Qt::LeftButton);
    settle();
    panel.setPage(Page::settings);
    settle();
    settings = qobject_cast<SettingsPage*>(panel.currentPage());
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(child<LocationControl>(*settings, "locationControl").showFineTune());
    EXPECT_FALSE(child<RevealBox>(*settings, "coordinatesRow").isVisible());

    QTest::mouseClick(&child<PlainButton>(*settings, "quitRow"), Qt::LeftButton, {},
                      QPoint(child<PlainButton>(*settings, "quitRow").width() - 4,
                             child<PlainButton>(*settings, "quitRow").height() / 2));
    EXPECT_TRUE(quit);
}

TEST_F(PanelViewTest, SwitchingWhileHiddenOrTwiceInARowIsSafe) {
    AppModel& model = rig.make();
    PanelView panel(
        model, [] {}, Page::settings);
    EXPECT_NE(qobject_cast<SettingsPage*>(panel.currentPage()), nullptr);
    panel.setPage(Page::front);
    EXPECT_NE(qobject_cast<FrontPage*>(panel.currentPage()), nullptr);
    testing::showAtWidth(panel);
    panel.setPage(Page::settings);
    panel.setPage(Page::front);
    panel.setPage(Page::front);
    settle();
    EXPECT_EQ(panel.page(), Page::front);
    EXPECT_EQ(panel.findChildren<FrontPage*>().size(), 1);
    EXPECT_EQ(panel.currentPage()->graphicsEffect(), nullptr);
}

}  // namespace
}  // namespace vesperine
