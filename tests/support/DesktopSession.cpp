#include "support/DesktopSession.h"

#include "support/Subprocess.h"

namespace vesperine::testing {

Environment sessionEnvironment(const TempDir& home, const std::optional<std::string>& display,
                               const std::string& busAddress) {
    return {{"DISPLAY", display},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"QT_QPA_PLATFORM", std::nullopt},
            {"HOME", home.path()},
            {"XDG_CONFIG_HOME", home.file("config")},
            {"XDG_STATE_HOME", home.file("state")},
            {"XDG_RUNTIME_DIR", home.path()},
            {"DBUS_SYSTEM_BUS_ADDRESS", busAddress},
            {"DBUS_SESSION_BUS_ADDRESS", busAddress}};
}

std::optional<std::string> DesktopSession::missingProgram(
    const std::vector<std::string>& alsoNeeded) {
    std::vector<std::string> programs = {"Xvfb", "openbox", "trayer", "xprop", "dbus-daemon"};
    programs.insert(programs.end(), alsoNeeded.begin(), alsoNeeded.end());
    for (const auto& program : programs) {
        if (!programInstalled(program)) {
            return program;
        }
    }
    return std::nullopt;
}

bool DesktopSession::startBus() {
    bus_ = std::make_unique<TestBus>(home_.path());
    busAddress_ = bus_->address();
    return bus_->started();
}

bool DesktopSession::startDisplay() {
    // A loaded machine occasionally loses the race for a display number or
    // starts the window manager slowly; one fresh try covers that.
    for (int attempt = 0; attempt < 2 && !tryDisplay(); ++attempt) {
        windowManager_.reset();
        xvfb_.reset();
    }
    return windowManager_ && windowManager_->running();
}

bool DesktopSession::tryDisplay() {
    xvfb_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{
            "Xvfb", "-displayfd", "1", "-screen", "0",
            std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24", "-nolisten",
            "tcp"},
        Environment{}, home_.file("xvfb.out"), home_.file("xvfb.err"));
    if (!waitUntil([&] { return readFile(home_.file("xvfb.out")).find('\n') != std::string::npos; },
                   20)) {
        return false;
    }
    const std::string number = readFile(home_.file("xvfb.out"));
    display_ = ":" + number.substr(0, number.find('\n'));
    windowManager_ = start({"openbox"}, "openbox");
    return waitUntil(
               [&] {
                   return run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") !=
                          std::string::npos;
               },
               20) &&
           windowManager_->running();
}

std::string DesktopSession::displayFailure() const {
    return "display " + display_ + ": " + readFile(home_.file("openbox.err")) +
           readFile(home_.file("xvfb.err"));
}

Environment DesktopSession::environment() const {
    return sessionEnvironment(home_, display_, busAddress_);
}

std::unique_ptr<BackgroundProcess> DesktopSession::start(const std::vector<std::string>& argv,
                                                         const std::string& name) const {
    return std::make_unique<BackgroundProcess>(argv, environment(), home_.file(name + ".out"),
                                               home_.file(name + ".err"));
}

std::string DesktopSession::run(const std::vector<std::string>& argv) const {
    ProcessOptions options;
    options.environment = environment();
    options.timeoutSeconds = 20;
    return runProcess(argv, options).out;
}

std::unique_ptr<BackgroundProcess> DesktopSession::startTray(const std::string& edge,
                                                             const std::string& align) const {
    return start({"trayer", "--edge", edge, "--align", align, "--widthtype", "request", "--height",
                  std::to_string(kTrayHeight), "--SetDockType", "true", "--SetPartialStrut", "true",
                  "--transparent", "false"},
                 "trayer");
}

}  // namespace vesperine::testing
