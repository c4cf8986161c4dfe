#include <gtest/gtest.h>

#include <QObject>

#include <array>

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

class SelfTestTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::testApplication(); }
};

// What the self-test prints when the checks come out as `ok`.
std::string report(std::array<bool, 3> ok) {
    const char* const checks[] = {"presentation uses a key panel with no global mouse monitor",
                                  "panel close path has a resign-key reentrancy guard",
                                  "panel stays key for controls and text until a genuine resign"};
    std::string out;
    int passed = 0;
    for (int i = 0; i < 3; ++i) {
        out += std::string(ok[i] ? "  ok   " : "  FAIL ") + checks[i] + "\n";
        passed += ok[i];
    }
    return out + "selftest: " + std::to_string(passed) + " passed, " + std::to_string(3 - passed) +
           " failed\n";
}

TEST_F(SelfTestTest, EachBrokenRuleFailsItsCheckAndTheRestStillRun) {
    const QSet<QString> delegate = SelfTest::declaredPropertyNames(AppDelegate::staticMetaObject);
    const StatusPanel panel(QRect(0, 0, 288, 100));
    StatusPanel notFloating(QRect(0, 0, 288, 100));
    notFloating.setWindowFlag(Qt::WindowStaysOnTopHint, false);
    StatusPanel keyOnlyIfNeeded(QRect(0, 0, 288, 100));
    keyOnlyIfNeeded.setAttribute(Qt::WA_ShowWithoutActivating);
    const PanelThatHidesOnDeactivate hidesOnDeactivate;
    struct Case {
        const char* name;
        QSet<QString> properties;
        const StatusPanel& panel;
        std::array<bool, 3> ok;
    };
    const Case cases[] = {
        {"a popover",
         SelfTest::declaredPropertyNames(DelegateWithPopover::staticMetaObject),
         panel,
         {false, true, true}},
        {"no panel", {"isClosingPanel", "statusItem"}, panel, {false, true, true}},
        {"no close guard, hides on deactivate", {"panel"}, hidesOnDeactivate, {true, false, false}},
        {"not floating", delegate, notFloating, {true, true, false}},
        {"key only if needed", delegate, keyOnlyIfNeeded, {true, true, false}},
    };
    for (const Case& c : cases) {
        int status = -1;
        EXPECT_EQ(
            captureFile([&](std::FILE* f) { status = SelfTest::run(c.properties, c.panel, f); }),
            report(c.ok))
            << c.name;
        EXPECT_EQ(status, 1) << c.name;
    }
}

}  // namespace
}  // namespace vesperine

#include "SelfTestTest.moc"
