#include <gtest/gtest.h>

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLineEdit>
#include <QMetaProperty>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <unistd.h>

#include <cstdio>

#include "ShellFakes.h"
#include "TestApplication.h"
#include "shell/AppDelegate.h"
#include "shell/WakeWatcher.h"
#include "support/BackgroundProcess.h"
#include "support/TempDir.h"
#include "views/PanelView.h"

namespace vesperine {
namespace {

using testing::ShellWorld;

// Counts the key presses that reach a widget.
class KeyCounter : public QObject {
  public:
    int escapes = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
            ++escapes;
        }
        return false;
    }
};

// Runs the launch sequence with standard error caught in a file.
std::string launch(AppDelegate& delegate) {
    std::fflush(stderr);
    const int saved = dup(STDERR_FILENO);
    std::FILE* file = std::tmpfile();
    dup2(fileno(file), STDERR_FILENO);
    delegate.applicationDidFinishLaunching();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    return testing::drainAndClose(file);
}

class AppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override { testing::testApplication(); }

    // A focused line edit in a window of its own.
    QLineEdit* focusedEdit() {
        edit_ = std::make_unique<QLineEdit>();
        edit_->installEventFilter(&keys_);
        edit_->show();
        edit_->setFocus();
        return edit_.get();
    }

    ShellWorld world_;
    KeyCounter keys_;
    std::unique_ptr<QLineEdit> edit_;
};

TEST_F(AppDelegateTest, LaunchBuildsTheShellRunsOnePassAndLogsOnce) {
    const auto windowsBefore = QApplication::topLevelWidgets().size();
    AppDelegate delegate(world_.services());
    // Creation alone touches nothing.
    EXPECT_EQ(delegate.panel(), nullptr);
    EXPECT_EQ(world_.clock.reads, 0);
    EXPECT_TRUE(world_.display.applies.empty());
    EXPECT_EQ(QApplication::topLevelWidgets().size(), windowsBefore);

    // This platform has no tray: the program says so instead of vanishing.
    EXPECT_EQ(launch(delegate),
              "vesperine: menu-bar item created\nvesperine: no system tray here; the icon appears "
              "when one starts, and running vesperine again opens the panel\n");
    ASSERT_NE(delegate.panel(), nullptr);
    ASSERT_NE(delegate.timer(), nullptr);
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
    EXPECT_FALSE(delegate.panel()->isVisible());
    EXPECT_EQ(delegate.timer()->interval(), 300 * 1000);
    EXPECT_TRUE(delegate.timer()->isActive());

    // Automation off: one pass that changes nothing but puts the stored
    // (off) state back on screen.
    EXPECT_EQ(world_.clock.reads, 1);
    EXPECT_FALSE(world_.filterStore.value("enabled"));
    ASSERT_EQ(world_.display.applies.size(), 1u);
    EXPECT_FALSE(world_.display.applies[0].enabled);

    // A second launch call is ignored.
    EXPECT_EQ(launch(delegate), "");
    EXPECT_EQ(world_.clock.reads, 1);
}

TEST_F(AppDelegateTest, AMonitorChangePutsTheStoredStateBackWithoutAPass) {
    world_.filter.setEnabled(true);
    AppDelegate delegate(world_.services());
    launch(delegate);
    const auto applies = world_.display.applies.size();
    const int passes = world_.clock.reads;
    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->geometryChanged(screen->geometry());
    Q_EMIT screen->geometryChanged(screen->geometry());
    QTest::qWait(800);
    ASSERT_EQ(world_.display.applies.size(), applies + 1);  // one burst, one apply
    EXPECT_TRUE(world_.display.applies.back().enabled);
    EXPECT_EQ(world_.clock.reads, passes);
}

TEST_F(AppDelegateTest, WakeRunsExactlyOnePassAndSleepNone) {
    if (!testing::programInstalled("dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    testing::TempDir folder;
    testing::TestBus bus(folder.path());
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));

    world_.storeNightPlaceWithAutomation();
    AppDelegate delegate(world_.services());
    launch(delegate);
    ASSERT_TRUE(world_.filter.enabled());
    world_.filter.setEnabled(false);  // as another program would

    QDBusConnection login1 =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "login1");
    ASSERT_TRUE(login1.isConnected());
    ASSERT_TRUE(login1.registerService(WakeWatcher::service));
    QTest::qWait(300);  // the delegate learns the name's new owner

    const auto emitPrepareForSleep = [&](QDBusConnection& sender, bool goingToSleep) {
        QDBusMessage signal = QDBusMessage::createSignal(WakeWatcher::path, WakeWatcher::interface,
                                                         WakeWatcher::signal);
        signal << goingToSleep;
        ASSERT_TRUE(sender.send(signal));
    };
    const int before = world_.clock.reads;
    // Going to sleep, or someone else on the bus faking a wake: no pass.
    QDBusConnection stranger =
        QDBusConnection::connectToBus(QString::fromStdString(bus.address()), "stranger");
    emitPrepareForSleep(login1, true);
    emitPrepareForSleep(stranger, false);
    QTest::qWait(300);
    EXPECT_EQ(world_.clock.reads, before);
    EXPECT_FALSE(world_.filter.enabled());

    emitPrepareForSleep(login1, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return world_.clock.reads > before; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(world_.clock.reads, before + 1);
    EXPECT_TRUE(world_.filter.enabled());
    EXPECT_TRUE(delegate.model()->filterOn());
    QDBusConnection::disconnectFromBus("login1");
    QDBusConnection::disconnectFromBus("stranger");
}

TEST_F(AppDelegateTest, TrayClicksToggleThePanelUnderThePointer) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    auto* tray = delegate.statusItem()->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    QCursor::setPos(500, 3);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    StatusPanel& panel = *delegate.panel();
    ASSERT_TRUE(panel.isVisible());
    EXPECT_NE(delegate.localKeyMonitor(), nullptr);
    EXPECT_EQ(panel.geometry().top(), 3 + 1 + 6);  // 6 below the 1x1 pointer rectangle

    // A quick second click arrives as a double click and still closes; the
    // context button does nothing.
    Q_EMIT tray->activated(QSystemTrayIcon::Context);
    EXPECT_TRUE(panel.isVisible());
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(panel.isVisible());
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
}

TEST_F(AppDelegateTest, OneEscapeMonitorClosesThePanelAndSwallowsOnlyEscape) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    QLineEdit* edit = focusedEdit();
    delegate.openPanel();
    ASSERT_TRUE(delegate.panel()->isVisible());

    QTest::keyClicks(edit, "ab");
    EXPECT_EQ(edit->text(), "ab");
    EXPECT_TRUE(delegate.panel()->isVisible());

    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_FALSE(delegate.panel()->isVisible());
    EXPECT_EQ(keys_.escapes, 0);
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);

    // Closed: Escape belongs to the application's widgets again.
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(keys_.escapes, 1);

    // Installing again or reopening never stacks a second monitor.
    delegate.openPanel();
    QObject* first = delegate.localKeyMonitor();
    ASSERT_NE(first, nullptr);
    delegate.installEscapeMonitor();
    delegate.openPanel();
    EXPECT_EQ(delegate.localKeyMonitor(), first);
    delegate.closePanel();
    delegate.removeEscapeMonitor();  // nothing left to remove
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(keys_.escapes, 2) << "a stacked monitor outlived the close";
}

// Stands in for a window system that reports the resign synchronously from
// inside the hide, as the close path expects.
class ResignOnHide : public QObject {
  public:
    explicit ResignOnHide(AppDelegate& delegate) : delegate_(delegate) {}
    int hides = 0;
    bool guardDuringHide = false;
    bool guardAfterNestedCall = false;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            ++hides;
            guardDuringHide = delegate_.isClosingPanel();
            delegate_.windowDidResignKey(static_cast<QWidget*>(watched));
            guardAfterNestedCall = delegate_.isClosingPanel();
        }
        return false;
    }

  private:
    AppDelegate& delegate_;
};

TEST_F(AppDelegateTest, TheResignDuringACloseIsSwallowedByTheGuard) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    ResignOnHide resign(delegate);
    delegate.panel()->installEventFilter(&resign);
    delegate.openPanel();
    delegate.togglePanel();
    EXPECT_FALSE(delegate.panel()->isVisible());
    EXPECT_EQ(resign.hides, 1);
    EXPECT_TRUE(resign.guardDuringHide);
    // An unguarded nested close would have reset the flag on its way out.
    EXPECT_TRUE(resign.guardAfterNestedCall);
    EXPECT_FALSE(delegate.isClosingPanel());
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
}

TEST_F(AppDelegateTest, OnlyThePanelsOwnResignClosesIt) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    delegate.openPanel();
    StatusPanel* panel = delegate.panel();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));

    QWidget other;
    delegate.windowDidResignKey(&other);
    delegate.windowDidResignKey(nullptr);
    EXPECT_TRUE(panel->isVisible());

    // A real loss of activation: another window of the application.
    other.show();
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
    delegate.windowDidResignKey(panel);  // hidden: nothing to do
    EXPECT_FALSE(panel->isVisible());
}

TEST_F(AppDelegateTest, TheClickThatTookFocusFromThePanelDoesNotReopenIt) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    auto* tray = delegate.statusItem()->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    StatusPanel* panel = delegate.panel();
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));

    // A tray that takes focus: the panel resigns first, then the click lands.
    QWidget trayBar;
    trayBar.show();
    trayBar.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());

    // A click later on opens it as usual; so does one right after a close of its own.
    QTest::qWait(400);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    delegate.closePanel();
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    delegate.closePanel();
}

TEST_F(AppDelegateTest, TheRootRefreshesTheModelWhenThePanelFirstAppears) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    int refreshes = 0;
    QObject::connect(delegate.model(), &AppModel::changed, [&](AppModel::Property property) {
        refreshes += property == AppModel::Property::statusText ? 1 : 0;
    });
    // Opening refreshes, and the page coming on screen for the first time
    // refreshes once more; later opens only refresh once.
    delegate.openPanel();
    EXPECT_EQ(refreshes, 2);
    delegate.closePanel();
    delegate.openPanel();
    EXPECT_EQ(refreshes, 3);
    delegate.closePanel();
}

TEST_F(AppDelegateTest, ThePanelKeepsItsPageAndFollowsItsHeight) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    QCursor::setPos(400, 2);
    Q_EMIT delegate.statusItem()->findChild<QSystemTrayIcon*>()->activated(
        QSystemTrayIcon::Trigger);
    StatusPanel* panel = delegate.panel();
    auto* view = qobject_cast<PanelView*>(delegate.hostingController()->content());
    ASSERT_NE(view, nullptr);
    const int frontHeight = panel->height();
    const int top = panel->geometry().top();

    view->setPage(Page::settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->height() != frontHeight; }, 2000));
    EXPECT_EQ(panel->height(), std::ceil(delegate.hostingController()->sizeThatFits(288).height()));
    EXPECT_EQ(panel->geometry().top(), top);  // the top stays under the icon

    delegate.togglePanel();
    delegate.togglePanel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(view->page(), Page::settings);
    EXPECT_NE(panel->height(), frontHeight);
    delegate.closePanel();
}

}  // namespace
}  // namespace vesperine
