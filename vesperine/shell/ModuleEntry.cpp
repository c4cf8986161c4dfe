// The interface module's one exported symbol: the table of entry points that
// the executable calls after loading the module.

#include <QApplication>
#include <QFileInfo>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/InterfaceModuleApi.h"
#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/Settings.h"
#include "engine/StorePaths.h"
#include "evidence/PanelEvidence.h"
#include "model/GeonamesGeocoder.h"
#include "shell/AppDelegate.h"
#include "shell/InstanceChannel.h"
#include "shell/InstanceLock.h"
#include "shell/PlatformChoice.h"
#include "shell/SelfTest.h"
#include "shell/X11Session.h"

namespace vesperine {
namespace {

// Qt's own diagnostics would be the application's only other output; the
// program writes one line and nothing else. Fatal messages still abort.
void quietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "vesperine: %s\n", message.toLocal8Bit().constData());
    }
}

// Whether Qt has a plugin for the platform `name`, where it looks for them.
bool platformInstalled(const std::string& name) {
    QStringList folders = QCoreApplication::libraryPaths();
    for (auto& folder : folders) {
        folder += QStringLiteral("/platforms");
    }
    folders += qEnvironmentVariable("QT_QPA_PLATFORM_PLUGIN_PATH").split(u':', Qt::SkipEmptyParts);
    const QString file = QStringLiteral("/libq") + QString::fromStdString(name) + ".so";
    for (const QString& folder : folders) {
        if (QFileInfo(folder + file).isFile()) {
            return true;
        }
    }
    return false;
}

// Sets QT_QPA_PLATFORM when the choice has one. Qt ends the process with an
// abort when it has no plugin for the platform, so that is checked first: the
// one line for standard error, or absent.
std::optional<std::string> setPlatform(const std::optional<std::string>& platform) {
    if (platform) {
        setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    }
    const QByteArray wanted = qgetenv("QT_QPA_PLATFORM");
    // Unset, Qt takes the first of its own defaults (xcb here): checked too.
    return PlatformChoice::missingPlatform(wanted.isEmpty() ? "xcb" : wanted.toStdString(),
                                           platformInstalled);
}

// Qt sees only the program name: the remaining arguments are the command
// line's (or ignored), never Qt options such as -platform.
struct QtArguments {
    explicit QtArguments(char* program) : argv{program, nullptr} {}
    int argc = 1;
    char* argv[2];
};

int runApplication(int argc, char** argv) {
    const PlatformChoice::Choice choice =
        PlatformChoice::forApplication(PlatformChoice::current(), X11Session::probeDisplay);
    if (choice.failure) {
        std::fputs(choice.failure->c_str(), stderr);
        return 1;
    }
    if (const auto missing = setPlatform(choice.platform)) {
        std::fputs(missing->c_str(), stderr);
        return 1;
    }
    static InstanceLock lock;
    const std::string lockPath =
        InstanceLock::defaultPath(std::getenv("XDG_RUNTIME_DIR"), getuid());
    const auto outcome = lock.acquire(lockPath);
    if (outcome == InstanceLock::Outcome::heldElsewhere) {
        // A second start opens the running one's panel, then ends.
        if (InstanceChannel::askToOpenPanel(InstanceChannel::socketPath(lockPath))) {
            return 0;
        }
        std::fputs("vesperine: already running in this session\n", stderr);
        return 1;
    }
    qInstallMessageHandler(quietMessages);

    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("vesperine"));

    static SystemClock clock;
    // The same file and display as ColorFilterState::shared(), made here so
    // that the slider can show a strength on that display before storing it.
    static KeyFileStore filterStore(StorePaths::filterStateFile(), "ColorFilter");
    static const std::unique_ptr<DisplayBackend> display = makeSessionDisplay();
    static ColorFilterState filter(filterStore, *display);
    AppDelegate delegate(ShellServices{
        []() -> Settings& { return Settings::shared(); },
        []() -> ColorFilterState& { return filter; },
        &clock,
        []() -> std::unique_ptr<CityGeocoder> { return std::make_unique<GeonamesGeocoder>(); },
        StorePaths::filterStateFile(),
        outcome == InstanceLock::Outcome::acquired ? InstanceChannel::socketPath(lockPath)
                                                   : std::string(),
        display.get(),
    });
    // "Launching has finished" is the first turn of the event loop.
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}

int runSelfTest(int argc, char** argv) {
    const PlatformChoice::Choice choice =
        PlatformChoice::forSelfTest(PlatformChoice::current(), X11Session::probeDisplay);
    const auto failure = choice.failure ? choice.failure : setPlatform(choice.platform);
    if (failure) {
        std::fputs(failure->c_str(), stderr);
        return 1;
    }
    qInstallMessageHandler(quietMessages);
    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    return SelfTest::runOnShell(stdout);
}

int renderPanel(int argc, char** argv, const char* directory) {
    // The same pictures on every machine, with or without a screen.
    if (const auto missing = setPlatform(std::string("offscreen"))) {
        std::fputs(missing->c_str(), stderr);
        return 1;
    }
    qInstallMessageHandler(quietMessages);
    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    const QString failure =
        PanelEvidence::render(QString::fromLocal8Bit(directory ? directory : ""));
    std::fflush(stdout);
    if (!failure.isEmpty()) {
        std::fprintf(stderr, "vesperine: %s\n", failure.toLocal8Bit().constData());
        return 1;
    }
    return 0;
}

constexpr VesperineInterfaceApi api{
    VESPERINE_INTERFACE_ABI_VERSION,
    runApplication,
    runSelfTest,
    renderPanel,
};

}  // namespace
}  // namespace vesperine

extern "C" __attribute__((visibility("default"))) const VesperineInterfaceApi*
vesperine_interface_api() {
    return &vesperine::api;
}
