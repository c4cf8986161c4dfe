// The tray application's shell in this process, on the offscreen platform
// (the delegate, the panel's hosting, the self-test's checks), and the
// executable where nothing can be shown.

#include <gtest/gtest.h>

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QLineEdit>
#include <QObject>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTest>
#include <QVBoxLayout>

#include <unistd.h>

#include <array>
#include <cstdio>
#include <limits>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/DisplayBackend.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "model/CityGeocoder.h"
#include "shell/AppDelegate.h"
#include "shell/PanelHostingController.h"
#include "shell/SelfTest.h"
#include "shell/StatusPanel.h"
#include "shell/WakeWatcher.h"
#include "support/BackgroundProcess.h"
#include "support/DesktopSession.h"
#include "support/Subprocess.h"
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

// Everything written to a FILE* by `body`.
template <typename Body>
std::string captureFile(Body body) {
    std::FILE* file = std::tmpfile();
    body(file);
    return testing::drainAndClose(file);
}

// Records whether each apply switched the filter on.
struct RecordingDisplay final : DisplayBackend {
    DisplayOutcome apply(bool enabled, double) override {
        applies.push_back(enabled);
        return DisplayOutcome::reachedScreen();
    }
    std::string_view name() const override { return "recording"; }
    std::vector<bool> applies;
};

// 2024-01-15 00:00:00 UTC, night at 0 N, 0 E; counts how often it was asked,
// i.e. how many passes ran.
struct CountingClock final : Clock {
    Instant now() const override {
        ++reads;
        return Instant::fromSecondsSince1970(1705276800.0);
    }
    mutable int reads = 0;
};

struct IdleGeocoder final : CityGeocoder {
    void geocode(const QString&, Completion) override {}
    void cancel() override {}
};

// Stores, display and clock of one application run, all in memory.
struct ShellWorld {
    InMemoryStore settingsStore;
    InMemoryStore filterStore;
    RecordingDisplay display;
    Settings settings{settingsStore};
    ColorFilterState filter{filterStore, display};
    CountingClock clock;

    ShellServices services() {
        return ShellServices{[this]() -> Settings& { return settings; },
                             [this]() -> ColorFilterState& { return filter; },
                             &clock,
                             [] { return std::unique_ptr<CityGeocoder>(new IdleGeocoder); },
                             {},
                             {}};
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
    void SetUp() override { testApplication(); }

    ShellWorld world_;
};

TEST_F(AppDelegateTest, LaunchRunsOnePassAndAMonitorChangeOnlyPutsTheStateBack) {
    world_.filter.setEnabled(true);
    const auto appliesBefore = world_.display.applies.size();
    AppDelegate delegate(world_.services());
    EXPECT_EQ(world_.clock.reads, 0) << "creation alone touches nothing";

    // This platform has no tray: the program says so instead of vanishing.
    EXPECT_EQ(launch(delegate),
              "vesperine: menu-bar item created\nvesperine: no system tray here; the icon appears "
              "when one starts, and running vesperine again opens the panel\n");
    EXPECT_EQ(launch(delegate), "") << "a second launch call is ignored";
    ASSERT_NE(delegate.panel(), nullptr);
    EXPECT_FALSE(delegate.panel()->isVisible());
    EXPECT_TRUE(delegate.timer()->isActive());
    // Automation off: one pass that changes nothing but puts the stored state back on screen.
    EXPECT_EQ(world_.clock.reads, 1);
    ASSERT_EQ(world_.display.applies.size(), appliesBefore + 1);
    EXPECT_TRUE(world_.display.applies.back());

    QScreen* screen = QGuiApplication::primaryScreen();
    Q_EMIT screen->geometryChanged(screen->geometry());
    Q_EMIT screen->geometryChanged(screen->geometry());
    QTest::qWait(800);
    ASSERT_EQ(world_.display.applies.size(), appliesBefore + 2);  // one burst, one apply
    EXPECT_TRUE(world_.display.applies.back());
    EXPECT_EQ(world_.clock.reads, 1);
}

TEST_F(AppDelegateTest, WakeRunsExactlyOnePassAndSleepNone) {
    if (!testing::programInstalled("dbus-daemon")) {
        GTEST_SKIP() << "dbus-daemon is not installed";
    }
    testing::TempDir folder;
    testing::TestBus bus(folder.path());
    ASSERT_TRUE(bus.started());
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", QByteArray::fromStdString(bus.address()));

    world_.settings.setLatitude(0.0);
    world_.settings.setLongitude(0.0);
    world_.settings.setAutomationEnabled(true);
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

TEST_F(AppDelegateTest, TrayClicksToggleThePanelAndOnlyAGenuineResignClosesIt) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    auto* tray = delegate.statusItem()->findChild<QSystemTrayIcon*>();
    ASSERT_NE(tray, nullptr);
    const auto click = [&](auto reason) { Q_EMIT tray->activated(reason); };
    StatusPanel* panel = delegate.panel();
    QCursor::setPos(500, 3);
    click(QSystemTrayIcon::Trigger);
    ASSERT_TRUE(QTest::qWaitForWindowActive(panel));
    EXPECT_NE(delegate.localKeyMonitor(), nullptr);
    EXPECT_EQ(panel->geometry().top(), 3 + 1 + 6);  // 6 below the 1x1 pointer rectangle

    QWidget trayBar;
    delegate.windowDidResignKey(&trayBar);
    delegate.windowDidResignKey(nullptr);
    EXPECT_TRUE(panel->isVisible()) << "another window's resign";

    // A tray that takes focus: the panel resigns first, then the click lands
    // and does not reopen it; a click later on does.
    trayBar.show();
    trayBar.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !panel->isVisible(); }, 2000));
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
    click(QSystemTrayIcon::Trigger);
    EXPECT_FALSE(panel->isVisible());
    QTest::qWait(400);
    click(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());

    // The context button does nothing; a quick second click arrives as a
    // double click and still closes, and one right after that opens again.
    click(QSystemTrayIcon::Context);
    EXPECT_TRUE(panel->isVisible());
    click(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(panel->isVisible());
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);
    click(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(panel->isVisible());
    delegate.closePanel();
}

// Counts the Escape presses that reach a widget.
class EscapeCounter : public QObject {
  public:
    int escapes = 0;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        escapes += event->type() == QEvent::KeyPress &&
                   static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape;
        return false;
    }
};

TEST_F(AppDelegateTest, OneEscapeMonitorClosesThePanelAndSwallowsOnlyEscape) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    EscapeCounter keys;
    QLineEdit edit;
    edit.installEventFilter(&keys);
    edit.show();
    edit.setFocus();
    delegate.openPanel();
    ASSERT_TRUE(delegate.panel()->isVisible());

    QTest::keyClicks(&edit, "ab");
    EXPECT_EQ(edit.text(), "ab");
    EXPECT_TRUE(delegate.panel()->isVisible());

    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_FALSE(delegate.panel()->isVisible());
    EXPECT_EQ(keys.escapes, 0);
    EXPECT_EQ(delegate.localKeyMonitor(), nullptr);

    // Closed: Escape belongs to the application's widgets again.
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_EQ(keys.escapes, 1);

    // Installing again or reopening never stacks a second monitor.
    delegate.openPanel();
    QObject* first = delegate.localKeyMonitor();
    ASSERT_NE(first, nullptr);
    delegate.installEscapeMonitor();
    delegate.openPanel();
    EXPECT_EQ(delegate.localKeyMonitor(), first);
    delegate.closePanel();
    delegate.removeEscapeMonitor();  // nothing left to remove
    QTest::keyClick(&edit, Qt::Key_Escape);
    EXPECT_EQ(keys.escapes, 2) << "a stacked monitor outlived the close";
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
TEST_F(AppDelegateTest, ThePanelRefreshesWhenOpenedKeepsItsPageAndFollowsItsHeight) {
    AppDelegate delegate(world_.services());
    launch(delegate);
    int refreshes = 0;
    QObject::connect(delegate.model(), &AppModel::changed, [&](AppModel::Property property) {
        refreshes += property == AppModel::Property::statusText ? 1 : 0;
    });
    QCursor::setPos(400, 2);
    delegate.togglePanel();
    // Opening refreshes, and the page coming on screen for the first time
    // refreshes once more.
    EXPECT_EQ(refreshes, 2);
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
    EXPECT_EQ(refreshes, 3);
    EXPECT_EQ(view->page(), Page::settings);
    EXPECT_NE(panel->height(), frontHeight);
    delegate.closePanel();
}

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

TEST(SelfTestTest, EachBrokenRuleFailsItsCheckAndTheRestStillRun) {
    testApplication();
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

using testing::ProcessOptions;
using testing::runProcess;
using testing::TempDir;

// A session with no screen at all, its folders in `home`.
ProcessOptions headless(const TempDir& home) {
    ProcessOptions options;
    options.environment =
        testing::sessionEnvironment(home, std::nullopt, "unix:path=" + home.file("no-bus"));
    options.timeoutSeconds = 30;
    return options;
}

TEST(ShellProcessTest, TheSelfTestPassesWithoutADisplay) {
    TempDir home;
    const auto result = runProcess({VESPERINE_EXECUTABLE, "--selftest"}, headless(home));
    EXPECT_EQ(result.out, report({true, true, true}));
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.exitStatus, 0);
}

TEST(ShellProcessTest, WithoutADisplayTheTrayApplicationSaysSoOnceAndFails) {
    TempDir home;
    const auto plain = runProcess({VESPERINE_EXECUTABLE, "-platform", "offscreen"}, headless(home));
    EXPECT_EQ(plain.out, "");
    EXPECT_EQ(plain.err,
              "vesperine: no display to show the menu-bar item on (DISPLAY is not set)\n");
    EXPECT_NE(plain.exitStatus, 0);
    // A Wayland session without XWayland cannot place the panel either.
    auto options = headless(home);
    options.environment["WAYLAND_DISPLAY"] = "wayland-0";
    const auto result = runProcess({VESPERINE_EXECUTABLE}, options);
    EXPECT_EQ(result.err,
              "vesperine: no X display: the menu-bar item needs X11 or XWayland "
              "(DISPLAY is not set)\n");
    EXPECT_NE(result.exitStatus, 0);
    // A display that does not answer is not a crash.
    options.environment["DISPLAY"] = ":97";
    const auto unreachable = runProcess({VESPERINE_EXECUTABLE}, options);
    EXPECT_EQ(unreachable.err, "vesperine: cannot open display :97\n");
    EXPECT_EQ(unreachable.exitStatus, 1);
}

// A content of two fixed-height blocks, 100 and 40 pixels high.
TEST(PanelWindowTest, HostingReportsEachNewPreferredSizeOnce) {
    testApplication();
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

#include "ShellInProcessTest.moc"
