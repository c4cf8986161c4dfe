#include <gtest/gtest.h>

#include <QObject>

#include "TestApplication.h"
#include "shell/AppDelegate.h"
#include "shell/SelfTest.h"
#include "shell/StatusPanel.h"

namespace vesperine {
namespace {

using testing::captureFile;

// A delegate that breaks the presentation rules, as a type that Qt can list.
class DelegateWithPopover : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* panel READ none)
    Q_PROPERTY(QObject* popover READ none)
    Q_PROPERTY(bool isClosingPanel READ no)

  public:
    QObject* none() const { return nullptr; }
    bool no() const { return false; }
};

class PanelThatHidesOnDeactivate : public StatusPanel {
  public:
    PanelThatHidesOnDeactivate() : StatusPanel(QRect(0, 0, 288, 100)) {
        setWindowFlags(Qt::Popup | Qt::FramelessWindowHint);
    }
};

const char* const kCheck1 = "presentation uses a key panel with no global mouse monitor";
const char* const kCheck2 = "panel close path has a resign-key reentrancy guard";
const char* const kCheck3 = "panel stays key for controls and text until a genuine resign";

class SelfTestTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::testApplication(); }

    static std::string lines(bool ok1, bool ok2, bool ok3, const char* summary) {
        const auto line = [](bool ok, const char* name) {
            return std::string(ok ? "  ok   " : "  FAIL ") + name + "\n";
        };
        return line(ok1, kCheck1) + line(ok2, kCheck2) + line(ok3, kCheck3) +
               "selftest: " + summary + "\n";
    }
};

TEST_F(SelfTestTest, AForbiddenOrMissingPropertyFailsTheFirstCheckAndTheRestStillRun) {
    const StatusPanel panel(QRect(0, 0, 288, 100));
    const QSet<QString> withoutPanel{"isClosingPanel", "statusItem"};
    for (const QSet<QString>& names :
         {SelfTest::declaredPropertyNames(DelegateWithPopover::staticMetaObject), withoutPanel}) {
        int status = -1;
        const std::string out =
            captureFile([&](std::FILE* f) { status = SelfTest::run(names, panel, f); });
        EXPECT_EQ(out, lines(false, true, true, "2 passed, 1 failed"));
        EXPECT_EQ(status, 1);
    }
}

TEST_F(SelfTestTest, TwoFailuresReportOnePassedAndStatusOne) {
    const PanelThatHidesOnDeactivate panel;
    EXPECT_TRUE(panel.hidesOnDeactivate());
    int status = -1;
    const std::string out = captureFile([&](std::FILE* f) {
        status = SelfTest::run({"panel"}, panel, f);  // no close guard
    });
    EXPECT_EQ(out, lines(true, false, false, "1 passed, 2 failed"));
    EXPECT_EQ(status, 1);
}

TEST_F(SelfTestTest, EachPanelFlagIsReadFromTheWindowItself) {
    const QSet<QString> names = SelfTest::declaredPropertyNames(AppDelegate::staticMetaObject);
    StatusPanel notFloating(QRect(0, 0, 288, 100));
    notFloating.setWindowFlag(Qt::WindowStaysOnTopHint, false);
    StatusPanel keyOnlyIfNeeded(QRect(0, 0, 288, 100));
    keyOnlyIfNeeded.setAttribute(Qt::WA_ShowWithoutActivating);
    for (const StatusPanel* panel : {&notFloating, &keyOnlyIfNeeded}) {
        EXPECT_EQ(captureFile([&](std::FILE* f) { SelfTest::run(names, *panel, f); }),
                  lines(true, true, false, "2 passed, 1 failed"));
    }
}

}  // namespace
}  // namespace vesperine

#include "SelfTestTest.moc"
