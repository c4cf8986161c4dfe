// The panel root: the animated page switch and a settings page made anew on
// every visit. The panel's height on the way to the settings page is checked
// on the delegate and on a real X server.
#include <QApplication>
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
using testing::settle;

class PanelViewTest : public ::testing::Test {
  protected:
    ModelRig rig;
};

TEST_F(PanelViewTest, SwitchesPagesWithACrossFadeAndMakesTheSettingsPageAnew) {
    AppModel& model = rig.make();
    PanelView panel(
        model, [] {}, Page::front);
    testing::showAtWidth(panel);
    const int frontHeight = panel.heightForWidth(288);

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
    QTest::mouseClick(&child<PlainButton>(*settings, "fineTuneLink"), Qt::LeftButton);
    settle();
    EXPECT_TRUE(child<RevealBox>(*settings, "coordinatesRow").isVisible());

    QTest::mouseClick(&child<PlainButton>(*settings, "backButton"), Qt::LeftButton);
    EXPECT_EQ(panel.page(), Page::front);
    settle();
    EXPECT_EQ(panel.heightForWidth(288), frontHeight);  // back to the front page's height
    EXPECT_EQ(panel.findChildren<SettingsPage*>().size(), 0);

    // The next visit starts with the coordinates row hidden again.
    panel.setPage(Page::settings);
    settle();
    settings = qobject_cast<SettingsPage*>(panel.currentPage());
    ASSERT_NE(settings, nullptr);
    EXPECT_FALSE(child<LocationControl>(*settings, "locationControl").showFineTune());
    EXPECT_FALSE(child<RevealBox>(*settings, "coordinatesRow").isVisible());
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
