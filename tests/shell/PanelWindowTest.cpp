#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <cmath>
#include <limits>
#include <vector>

#include "TestApplication.h"
#include "shell/PanelHostingController.h"
#include "shell/StatusPanel.h"

namespace vesperine {
namespace {

class PanelWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::testApplication(); }
};

// A content of two fixed-height blocks, 100 and 40 pixels high.
struct Blocks {
    QWidget* content = new QWidget;
    QWidget* first = new QWidget;
    QWidget* second = new QWidget;
    Blocks() {
        auto* layout = new QVBoxLayout(content);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->setSpacing(0);
        first->setFixedHeight(100);
        second->setFixedHeight(40);
        layout->addWidget(first);
        layout->addWidget(second);
        content->setFixedWidth(288);
    }
};

TEST_F(PanelWindowTest, APanelIsAFramelessTopToolWindowWithRoundedCorners) {
    StatusPanel panel(QRect(0, 0, 288, 200));
    EXPECT_EQ(panel.windowType(), Qt::Tool);
    EXPECT_TRUE(panel.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_TRUE(panel.isFloatingPanel());
    EXPECT_FALSE(panel.becomesKeyOnlyIfNeeded());
    EXPECT_FALSE(panel.hidesOnDeactivate());
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(panel.size(), QSize(288, 200));

    // No compositor offscreen: the corners are cut by the mask.
    panel.show();
    const QRegion mask = panel.mask();
    EXPECT_FALSE(mask.contains(QPoint(0, 0)));
    EXPECT_FALSE(mask.contains(QPoint(287, 199)));
    EXPECT_FALSE(mask.contains(QPoint(2, 2)));
    EXPECT_TRUE(mask.contains(QPoint(144, 100)));
    EXPECT_TRUE(mask.contains(QPoint(0, 100)));
    EXPECT_TRUE(mask.contains(QPoint(144, 0)));
    // The mask follows the size.
    panel.resize(288, 60);
    EXPECT_FALSE(panel.mask().contains(QPoint(287, 59)));
    EXPECT_TRUE(panel.mask().contains(QPoint(144, 59)));
    panel.hide();
}

TEST_F(PanelWindowTest, LosingActivationIsReportedWithThePanel) {
    StatusPanel panel(QRect(0, 0, 288, 100));
    QSignalSpy resigned(&panel, &StatusPanel::didResignKey);
    panel.show();
    panel.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&panel));
    EXPECT_EQ(resigned.count(), 0);

    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    ASSERT_EQ(resigned.count(), 1);
    EXPECT_EQ(resigned.at(0).at(0).value<QWidget*>(), &panel);
}

TEST_F(PanelWindowTest, HostingMeasuresTheContentAtThePanelWidth) {
    Blocks blocks;
    PanelHostingController host(blocks.content);
    EXPECT_EQ(host.sizeThatFits(288), QSizeF(288, 140));
    EXPECT_EQ(host.content(), blocks.content);
}

TEST_F(PanelWindowTest, HostingReportsEachNewPreferredSizeOnce) {
    Blocks blocks;
    PanelHostingController host(blocks.content);
    std::vector<QSizeF> reported;
    host.setPreferredSizeDidChange([&](QSizeF size) { reported.push_back(size); });
    host.show();
    QCoreApplication::processEvents();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_EQ(reported.back(), QSizeF(288, 140));

    blocks.second->setFixedHeight(80);
    QCoreApplication::processEvents();
    ASSERT_EQ(reported.size(), 2u);
    EXPECT_EQ(reported.back(), QSizeF(288, 180));

    // A layout pass that ends at the same size reports nothing.
    blocks.second->setFixedHeight(80);
    blocks.content->updateGeometry();
    QCoreApplication::processEvents();
    EXPECT_EQ(reported.size(), 2u);

    blocks.first->hide();
    QCoreApplication::processEvents();
    ASSERT_EQ(reported.size(), 3u);
    EXPECT_EQ(reported.back(), QSizeF(288, 80));

    // Also while hidden, so the frame is right when the panel next opens.
    host.hide();
    blocks.first->show();
    QCoreApplication::processEvents();
    ASSERT_EQ(reported.size(), 4u);
    EXPECT_EQ(reported.back(), QSizeF(288, 180));
}

TEST_F(PanelWindowTest, APreferredSizeWithNaNAlwaysCountsAsAChange) {
    Blocks blocks;
    PanelHostingController host(blocks.content);
    EXPECT_EQ(host.preferredContentSize(), QSizeF(0, 0));
    int calls = 0;
    host.setPreferredSizeDidChange([&](QSizeF) { ++calls; });
    const double nan = std::numeric_limits<double>::quiet_NaN();
    host.setPreferredContentSize(QSizeF(288, nan));
    host.setPreferredContentSize(QSizeF(288, nan));
    EXPECT_EQ(calls, 2);
    host.setPreferredContentSize(QSizeF(288, 50));
    host.setPreferredContentSize(QSizeF(288, 50));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(host.preferredContentSize(), QSizeF(288, 50));
}

}  // namespace
}  // namespace vesperine
