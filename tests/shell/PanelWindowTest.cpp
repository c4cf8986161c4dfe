#include <gtest/gtest.h>

#include <QVBoxLayout>

#include <limits>
#include <vector>

#include "TestApplication.h"
#include "shell/PanelHostingController.h"

namespace vesperine {
namespace {

// A content of two fixed-height blocks, 100 and 40 pixels high.
TEST(PanelWindowTest, HostingReportsEachNewPreferredSizeOnce) {
    testing::testApplication();
    auto* content = new QWidget;
    auto* layout = new QVBoxLayout(content);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* first = new QWidget;
    auto* second = new QWidget;
    first->setFixedHeight(100);
    second->setFixedHeight(40);
    layout->addWidget(first);
    layout->addWidget(second);
    content->setFixedWidth(288);
    PanelHostingController host(content);
    EXPECT_EQ(host.sizeThatFits(288), QSizeF(288, 140));
    std::vector<QSizeF> reported;
    host.setPreferredSizeDidChange([&](QSizeF size) { reported.push_back(size); });
    host.show();
    QCoreApplication::processEvents();
    second->setFixedHeight(80);
    QCoreApplication::processEvents();
    // A layout pass that ends at the same size reports nothing.
    content->updateGeometry();
    QCoreApplication::processEvents();
    first->hide();
    QCoreApplication::processEvents();
    // Also while hidden, so the frame is right when the panel next opens.
    host.hide();
    first->show();
    QCoreApplication::processEvents();
    EXPECT_EQ(reported, (std::vector<QSizeF>{{288, 140}, {288, 180}, {288, 80}, {288, 180}}));

    // A height of NaN never equals the last one.
    int calls = 0;
    host.setPreferredSizeDidChange([&](QSizeF) { ++calls; });
    const double nan = std::numeric_limits<double>::quiet_NaN();
    host.setPreferredContentSize(QSizeF(288, nan));
    host.setPreferredContentSize(QSizeF(288, nan));
    host.setPreferredContentSize(QSizeF(288, 50));
    host.setPreferredContentSize(QSizeF(288, 50));
    EXPECT_EQ(calls, 3);
}

}  // namespace
}  // namespace vesperine
