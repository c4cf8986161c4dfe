// The tray application's shell in this process, on the offscreen platform:
// the delegate, its panel and the watcher of the stored filter state.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDialog>
#include <QLineEdit>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "shell/AppDelegate.h"
#include "shell/FilterStateWatcher.h"
#include "shell/PanelHostingController.h"
#include "shell/StatusPanel.h"
#include "shell/WakeWatcher.h"
#include "support/BackgroundProcess.h"
#include "support/Fakes.h"
#include "support/TempDir.h"
#include "views/PanelView.h"

namespace vesperine {
namespace {

// One QApplication on the offscreen platform for the whole test process.
QApplication& testApplication() {
    static QApplication* app = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        // Qt's warnings about the missing tray would mix with what the
        // delegate itself writes to standard error.
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        static int argc = 1;
        static char name[] = "shell_tests";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// A delegate over stores, display and clock in memory.
class AppDelegateTest : public ::testing::Test {
  protected:
    void SetUp() override { testApplication(); }
    void launch() { delegate_.applicationDidFinishLaunching(); }

    InMemoryStore settingsStore_;
    InMemoryStore filterStore_;
    testing::RecordingDisplay display_;
    Settings settings_{settingsStore_};
    ColorFilterState filter_{filterStore_, display_};
    // Night at 0 N, 0 E; its reads count the passes that ran.
    testing::FixedClock clock_{Instant::fromSecondsSince1970(1705276800.0)};
    AppDelegate delegate_{ShellServices{[this]() -> Settings& { return settings_; },
                                        [this]() -> ColorFilterState& { return filter_; },
                                        &clock_,
                                        {},
                                        {},
                                        {}}};
};

TEST_F(AppDelegateTest, LaunchRunsOnePassAndAMonitorChangeOnlyPutsTheStateBack) {
    filter_.setEnabled(true);
    const auto appliesBefore = display_.applies.size();
    launch();
    launch();  // ignored
    EXPECT_TRUE(delegate_.timer()->isActive());
    // Automation off: one pass that changes nothing but puts the stored state back on screen.
    EXPECT_EQ(clock_.reads, 1);
    ASSERT_EQ(display_.applies.size(), appliesBefore + 1);
    EXPECT_TRUE(display_.applies.back().first);

    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->geometryChanged(screen->geometry());
    Q_EMIT screen->geometryChanged(screen->geometry());
    QTest::qWait(800);
    ASSERT_EQ(display_.applies.size(), appliesBefore + 2);  // one burst, one apply
    EXPECT_TRUE(display_.applies.back().first);
    EXPECT_EQ(clock_.reads, 1);
}

TEST_F(AppDelegateTest, WakeRunsExactlyOnePassAndSleepNone) {
    if (!testing::programInstalled("dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    testing::TempDir folder;
    testing::TestBus bus(folder.path());
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));
    settings_.setLatitude(0.0);
    settings_.setLongitude(0.0);
    settings_.setAutomationEnabled(true);
    launch();
    ASSERT_TRUE(filter_.enabled());
    filter_.setEnabled(false);  // as another program would

    const auto connect = [&](const char* name) {
        return QDBusConnection::connectToBus(QString::fromStdString(bus.address()), name);
    };
    QDBusConnection login1 = connect("login1");
    ASSERT_TRUE(login1.registerService(WakeWatcher::service));
    QTest::qWait(300);  // the delegate learns the name's new owner
    const auto prepareForSleep = [](QDBusConnection sender, bool goingToSleep) {
        sender.send(QDBusMessage::createSignal(WakeWatcher::path, WakeWatcher::interface,
                                               WakeWatcher::signal)
                    << goingToSleep);
    };
    const int before = clock_.reads;
    // Going to sleep, or someone else on the bus faking a wake: no pass.
    prepareForSleep(login1, true);
    prepareForSleep(connect("stranger"), false);
    QTest::qWait(300);
    EXPECT_EQ(clock_.reads, before);

    prepareForSleep(login1, false);
    EXPECT_TRUE(QTest::qWaitFor([&] { return clock_.reads > before; }, 5000));
    QTest::qWait(300);
    EXPECT_EQ(clock_.reads, before + 1);
    EXPECT_TRUE(delegate_.model()->filterOn());
    QDBusConnection::disconnectFromBus("login1");
    QDBusConnection::disconnectFromBus("stranger");
}

// Stands in for a window system that reports the resign synchronously from
// inside the hide; whether the close guard held before and after it.
struct ResignOnHide : QObject {
    AppDelegate* delegate = nullptr;
    bool guarded = true;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Hide) {
            guarded = guarded && delegate->isClosingPanel();
            delegate->windowDidResignKey(static_cast<QWidget*>(watched));
            // An unguarded nested close would have reset the flag on its way out.
            guarded = guarded && delegate->isClosingPanel();
        }
        return false;
    }
};

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

    // A quick second click arrives as a double click and still closes, and
    // one right after that opens again: the resign from inside that close
    // was no genuine one.
    Q_EMIT tray->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_TRUE(resign.guarded);
    Q_EMIT tray->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    delegate_.closePanel();
}

TEST_F(AppDelegateTest, OneEscapeMonitorClosesThePanelAndSwallowsOnlyEscape) {
    launch();
    QDialog dialog;  // closes on an Escape that reaches it
    QLineEdit edit(&dialog);
    dialog.show();
    delegate_.openPanel();
    QTest::keyClicks(&edit, "ab");
    EXPECT_EQ(edit.text(), "ab");
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_FALSE(delegate_.panel()->isVisible());
    EXPECT_TRUE(dialog.isVisible()) << "the panel's Escape reached another window";
    // Closed: Escape belongs to the application's windows again.
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());

    // Installing again or reopening never stacks a second monitor.
    dialog.show();
    delegate_.openPanel();
    delegate_.installEscapeMonitor();
    delegate_.openPanel();
    delegate_.closePanel();
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible()) << "a stacked monitor outlived the close";
}

TEST_F(AppDelegateTest, ThePanelRefreshesWhenOpenedKeepsItsPageAndFollowsItsHeight) {
    launch();
    int refreshes = 0;
    QObject::connect(delegate_.model(), &AppModel::changed, [&](AppModel::Property property) {
        refreshes += property == AppModel::Property::statusText ? 1 : 0;
    });
    QCursor::setPos(400, 2);
    delegate_.togglePanel();
    // Opening refreshes, and the page coming on screen for the first time
    // refreshes once more.
    EXPECT_EQ(refreshes, 2);
    StatusPanel* panel = delegate_.panel();
    auto* view = qobject_cast<PanelView*>(delegate_.hostingController()->content());
    ASSERT_NE(view, nullptr);
    const int frontHeight = panel->height();
    const int top = panel->geometry().top();

    view->setPage(Page::settings);
    EXPECT_TRUE(QTest::qWaitFor([&] { return panel->height() != frontHeight; }, 2000));
    EXPECT_EQ(panel->height(),
              std::ceil(delegate_.hostingController()->sizeThatFits(288).height()));
    EXPECT_EQ(panel->geometry().top(), top);  // the top stays under the icon

    delegate_.togglePanel();
    delegate_.togglePanel();
    ASSERT_TRUE(panel->isVisible());
    EXPECT_EQ(refreshes, 3);
    EXPECT_EQ(view->page(), Page::settings);
    delegate_.closePanel();
}

// Another process writing the old bytes back right after the tray's own write
// is still a change to follow, or the screen stays as the tray left it.
TEST(FilterStateWatcherTest, AWriteBackOfTheOldBytesIsStillAChange) {
    testApplication();
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

    // A pipe in the file's place is looked at, not waited on (the test ends by
    // the alarm if it is).
    std::filesystem::remove(file);
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    alarm(10);
    EXPECT_TRUE(QTest::qWaitFor([&] { return changes > 1; }, 2000));
    alarm(0);
}

}  // namespace
}  // namespace vesperine
