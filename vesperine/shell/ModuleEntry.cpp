// The interface module's one exported symbol: the table of entry points that
// the executable calls after loading the module.

#include <QApplication>
#include <QTimer>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "cli/InterfaceModuleApi.h"
#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
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

void setPlatform(const std::optional<std::string>& platform) {
    if (platform) {
        setenv("QT_QPA_PLATFORM", platform->c_str(), 1);
    }
}

bool displayReachable(const std::string& name) {
    return X11Session::displayReachable(name);
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
        PlatformChoice::forApplication(PlatformChoice::current(), displayReachable);
    if (choice.failure) {
        std::fputs(choice.failure->c_str(), stderr);
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
    setPlatform(choice.platform);
    qInstallMessageHandler(quietMessages);

    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("vesperine"));

    static SystemClock clock;
    AppDelegate delegate(ShellServices{
        []() -> Settings& { return Settings::shared(); },
        []() -> ColorFilterState& { return ColorFilterState::shared(); },
        &clock,
        []() -> std::unique_ptr<CityGeocoder> { return std::make_unique<GeonamesGeocoder>(); },
        StorePaths::filterStateFile(),
        outcome == InstanceLock::Outcome::acquired ? InstanceChannel::socketPath(lockPath)
                                                   : std::string(),
    });
    // "Launching has finished" is the first turn of the event loop.
    QTimer::singleShot(0, &delegate, &AppDelegate::applicationDidFinishLaunching);
    return app.exec();
}

int runSelfTest(int argc, char** argv) {
    setPlatform(PlatformChoice::forSelfTest(PlatformChoice::current(), displayReachable).platform);
    qInstallMessageHandler(quietMessages);
    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    return SelfTest::runOnShell(stdout);
}

int renderPanel(int argc, char** argv, const char* directory) {
    // The same pictures on every machine, with or without a screen.
    setPlatform(std::string("offscreen"));
    qInstallMessageHandler(quietMessages);
    QtArguments arguments(argc > 0 ? argv[0] : const_cast<char*>("vesperine"));
    QApplication app(arguments.argc, arguments.argv);
    PanelEvidence::render(QString::fromLocal8Bit(directory ? directory : ""));
    std::fflush(stdout);
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
