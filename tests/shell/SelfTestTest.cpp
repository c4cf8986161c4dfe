#include <gtest/gtest.h>

#include <QObject>

#include "TestApplication.h"
#include "shell/AppDelegate.h"
#include "shell/SelfTest.h"
#include "shell/StatusPanel.h"

namespace vesperine {
namespace {

using testing::captureFile;

// Delegates that break the presentation rules, as types that Qt can list.
class DelegateWithPopover : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* panel READ none)
    Q_PROPERTY(QObject* popover READ none)
    Q_PROPERTY(bool isClosingPanel READ no)

  public:
    QObject* none() const { return nullptr; }
    bool no() const { return false; }
};

class DelegateWithClickMonitor : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* panel READ none)
    Q_PROPERTY(QObject* globalClickMonitor READ none)
    Q_PROPERTY(bool isClosingPanel READ no)

  public:
    QObject* none() const { return nullptr; }
    bool no() const { return false; }
};

class DelegateWithoutPanel : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool isClosingPanel READ no)
    Q_PROPERTY(QObject* statusItem READ none)

  public:
    QObject* none() const { return nullptr; }
    bool no() const { return false; }
};

class DelegateWithoutGuard : public QObject {
    Q_OBJECT
    Q_PROPERTY(QObject* panel READ none)

  public:
    QObject* none() const { return nullptr; }
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

TEST_F(SelfTestTest, TheShellPassesAllThreeChecks) {
    int status = -1;
    const std::string out = captureFile([&](std::FILE* f) { status = SelfTest::runOnShell(f); });
    EXPECT_EQ(out, lines(true, true, true, "3 passed, 0 failed"));
    EXPECT_EQ(status, 0);
}

TEST_F(SelfTestTest, TheDelegateDeclaresExactlyItsEightStoredProperties) {
    const QSet<QString> expected{
        "statusItem", "panel",           "hostingController", "model",
        "timer",      "localKeyMonitor", "isClosingPanel",    "reconcileInterval"};
    EXPECT_EQ(SelfTest::declaredPropertyNames(AppDelegate::staticMetaObject), expected);
    // QObject's own objectName is not the delegate's.
    EXPECT_FALSE(
        SelfTest::declaredPropertyNames(AppDelegate::staticMetaObject).contains("objectName"));
}

TEST_F(SelfTestTest, AForbiddenOrMissingPropertyFailsTheFirstCheckAndTheRestStillRun) {
    const StatusPanel panel(QRect(0, 0, 288, 100));
    for (const QMetaObject* type :
         {&DelegateWithPopover::staticMetaObject, &DelegateWithClickMonitor::staticMetaObject,
          &DelegateWithoutPanel::staticMetaObject}) {
        int status = -1;
        const std::string out = captureFile([&](std::FILE* f) {
            status = SelfTest::run(SelfTest::declaredPropertyNames(*type), panel, f);
        });
        EXPECT_EQ(out, lines(false, true, true, "2 passed, 1 failed")) << type->className();
        EXPECT_EQ(status, 1);
    }
}

TEST_F(SelfTestTest, TwoFailuresReportOnePassedAndStatusOne) {
    const PanelThatHidesOnDeactivate panel;
    EXPECT_TRUE(panel.hidesOnDeactivate());
    int status = -1;
    const std::string out = captureFile([&](std::FILE* f) {
        status = SelfTest::run(
            SelfTest::declaredPropertyNames(DelegateWithoutGuard::staticMetaObject), panel, f);
    });
    EXPECT_EQ(out, lines(true, false, false, "1 passed, 2 failed"));
    EXPECT_EQ(status, 1);
}

TEST_F(SelfTestTest, EachPanelFlagIsReadFromTheWindowItself) {
    const QSet<QString> names = SelfTest::declaredPropertyNames(AppDelegate::staticMetaObject);
    const auto third = [&](const StatusPanel& panel) {
        return captureFile([&](std::FILE* f) { SelfTest::run(names, panel, f); });
    };
    StatusPanel notFloating(QRect(0, 0, 288, 100));
    notFloating.setWindowFlag(Qt::WindowStaysOnTopHint, false);
    EXPECT_FALSE(notFloating.isFloatingPanel());
    EXPECT_EQ(third(notFloating), lines(true, true, false, "2 passed, 1 failed"));

    StatusPanel keyOnlyIfNeeded(QRect(0, 0, 288, 100));
    keyOnlyIfNeeded.setAttribute(Qt::WA_ShowWithoutActivating);
    EXPECT_TRUE(keyOnlyIfNeeded.becomesKeyOnlyIfNeeded());
    EXPECT_EQ(third(keyOnlyIfNeeded), lines(true, true, false, "2 passed, 1 failed"));

    StatusPanel refusesFocus(QRect(0, 0, 288, 100));
    refusesFocus.setWindowFlag(Qt::WindowDoesNotAcceptFocus);
    EXPECT_TRUE(refusesFocus.becomesKeyOnlyIfNeeded());
}

}  // namespace
}  // namespace vesperine

#include "SelfTestTest.moc"
