// The tray application's shell in this process, on the offscreen platform:
// the delegate, its panel and the watcher of the stored filter state.

#include <gtest/gtest.h>

#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialog>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "engine/KeyFileStore.h"
#include "model/ModelTestSupport.h"
#include "shell/AppDelegate.h"
#include "shell/FilterStateWatcher.h"
#include "shell/PanelHostingController.h"
#include "shell/StatusPanel.h"
#include "shell/WakeWatcher.h"
#include "support/DesktopSession.h"
#include "views/PanelView.h"

namespace vesperine {
namespace {

// A delegate over stores, display and a clock (at night at 0 N, 0 E) in
// memory; the clock's reads count the passes that ran.
class AppDelegateTest : public ::testing::Test, public testing::ModelParts {
  protected:
    void launch() { delegate_.applicationDidFinishLaunching(); }

    AppDelegate delegate_{ShellServices{[this]() -> Settings& { return settings; },
                                        [this]() -> ColorFilterState& { return filter; },
                                        &clock,
                                        {},
                                        {},
                                        {}}};
};

TEST_F(AppDelegateTest, LaunchRunsOnePassAndAMonitorChangeOnlyPutsTheStateBack) {
    filter.setEnabled(true);
    const auto appliesBefore = display.applies.size();
    launch();
    launch();  // ignored
    EXPECT_TRUE(delegate_.timer()->isActive());
    // Automation off: one pass that changes nothing but puts the stored state back on screen.
    ASSERT_EQ(display.applies.size(), appliesBefore + 1);
    EXPECT_TRUE(display.applies.back().first);

    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->geometryChanged(screen->geometry());
    Q_EMIT screen->geometryChanged(screen->geometry());
    QTest::qWait(800);
    ASSERT_EQ(display.applies.size(), appliesBefore + 2);  // one burst, one apply
    EXPECT_TRUE(display.applies.back().first);
    EXPECT_EQ(clock.reads, 1);
}

TEST_F(AppDelegateTest, WakeRunsExactlyOnePassAndSleepNone) {
    if (!testing::programInstalled("dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    testing::TempDir folder;
    testing::DesktopSession session(folder);
    ASSERT_TRUE(session.startBus()) << session.displayFailure();
    const std::string bus = *session.environment()["DBUS_SYSTEM_BUS_ADDRESS"];
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(bus));
    storePlace(0.0, 0.0);
    settings.setAutomationEnabled(true);
    launch();
    ASSERT_TRUE(filter.enabled());
    filter.setEnabled(false);  // as another program would

    const auto connect = [&](const char* name) {
        return QDBusConnection::connectToBus(QString::fromStdString(bus), name);
    };
    QDBusConnection login1 = connect("login1");
    ASSERT_TRUE(login1.registerService(WakeWatcher::service));
    QTest::qWait(300);  // the delegate learns the name's new owner
    const auto prepareForSleep = [](QDBusConnection sender, bool goingToSleep) {
        sender.send(QDBusMessage::createSignal(WakeWatcher::path, WakeWatcher::interface,
                                               WakeWatcher::signal)
                    << goingToSleep);
    };
    const int before = clock.reads;
    // Going to sleep, or someone else on the bus faking a wake: no pass.
    prepareForSleep(login1, true);
    prepareForSleep(connect("stranger"), false);
    QTest::qWait(300);
    EXPECT_EQ(clock.reads, before);

    prepareForSleep(login1, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clock.reads > before; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(clock.reads, before + 1);
    EXPECT_TRUE(delegate_.model()->filterOn());
    QDBusConnection::disconnectFromBus("login1");
    QDBusConnection::disconnectFromBus("stranger");
}

// Stands in for a window system that reports the resign synchronously from
// inside the hide; whether the close guard held before and after it (an
// unguarded nested close would reset the flag on its way out).
struct ResignOnHide : QObject {
    AppDelegate* delegate = nullptr;
    bool guarded = true;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            guarded = guarded && delegate->isClosingPanel();
            delegate->windowDidResignKey(static_cast<QWidget*>(watched));
            guarded = guarded && delegate->isClosingPanel();
        }
        return false;
    }
};

// A quick second click arrives as a double click and still closes, and one
// right after that opens again: the resign from inside that close was no
// genuine one.
TEST_F(AppDelegateTest, TrayClicksToggleThePanelAndANestedResignDoesNotCountAsGenuine) {
    launch();
    ResignOnHide resign;
    resign.delegate = &delegate_;
    StatusPanel* panel = delegate_.panel();
    panel->installEventFilter(&resign);
    auto* tray = delegate_.statusItem()->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    QCursor::setPos(500, 3);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    EXPECT_EQ(panel->geometry().top(), 3 + 1 + 6);  // 6 below the 1x1 pointer rectangle
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(resign.guarded);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    delegate_.closePanel();
}

TEST_F(AppDelegateTest, OneEscapeMonitorClosesThePanelAndSwallowsEscapeOnlyWhileItIsOpen) {
    launch();
    QDialog dialog;  // closes on an Escape that reaches it
    for (const bool stackMonitors : {false, true}) {
        dialog.show();
        delegate_.openPanel();
        if (stackMonitors) {  // installing again or reopening never stacks a second one
            delegate_.installEscapeMonitor();
            delegate_.openPanel();
        }
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(delegate_.panel()->isVisible());
        EXPECT_TRUE(dialog.isVisible()) << "the panel's Escape reached another window";
        // Closed: Escape belongs to the application's windows again.
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_FALSE(dialog.isVisible()) << "a monitor outlived the close: " << stackMonitors;
    }
}

// Opening refreshes, the page coming on screen for the first time once more,
// and no other opening; the panel keeps its page and its top as it grows.
TEST_F(AppDelegateTest, ThePanelRefreshesOnceWhenOpenedKeepsItsPageAndItsTop) {
    launch();
    int refreshes = 0;
    QObject::connect(delegate_.model(), &AppModel::changed, [&](AppModel::Property property) {
        refreshes += property == AppModel::Property::statusText ? 1 : 0;
    });
    delegate_.togglePanel();
    EXPECT_EQ(refreshes, 2);
    StatusPanel* panel = delegate_.panel();
    auto* view = qobject_cast<PanelView*>(delegate_.hostingController()->content());
    ASSERT_NE(view, nullptr);
    const int frontHeight = panel->height();
    const int top = panel->geometry().top();
    view->setPage(Page::settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->height() != frontHeight; }, 2000));
    EXPECT_EQ(panel->geometry().top(), top);

    delegate_.togglePanel();
    delegate_.togglePanel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(refreshes, 3);
    EXPECT_EQ(view->page(), Page::settings);
    delegate_.closePanel();
}

// Another process writing the old bytes back right after the tray's own write
// is still a change to follow, or the screen stays as the tray left it. A pipe
// in the file's place is looked at, not waited on (the alarm ends the test if it is).
TEST(FilterStateWatcherTest, AWriteBackOfTheOldBytesIsStillAChangeAndAPipeIsNotWaitedOn) {
    testing::TempDir home;
    const std::string file = home.file("state/filter.ini");
    KeyFileStore store(file, "ColorFilter");
    store.setValue("enabled", "false");
    FilterStateWatcher watcher(QString::fromStdString(file));
    int changes = 0;
    QObject::connect(&watcher, &FilterStateWatcher::stateChanged, [&] { ++changes; });
    store.setValue("enabled", "true");
    store.setValue("enabled", "false");
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes > 0; }, 2000));

    std::filesystem::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    alarm(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes > 1; }, 2000));
    alarm(0);
}

}  // namespace
}  // namespace vesperine
