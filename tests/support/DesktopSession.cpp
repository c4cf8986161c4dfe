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
            {"XDG_DATA_HOME", home.file("data")},
            {"XDG_CACHE_HOME", home.file("cache")},
            {"NO_AT_BRIDGE", "1"},
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

bool DesktopSession::startBus(bool offerServices) {
    // Services the bus starts inherit its environment, not the test's: they
    // get the private folders too.
    bus_ = std::make_unique<TestBus>(
        home_.path(),
        offerServices ? sessionEnvironment(home_, std::nullopt, "unix:path=" + home_.file("bus"))
                      : Environment{});
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
    Environment environment = sessionEnvironment(
        home_, display_.empty() ? std::nullopt : std::optional(display_), busAddress_);
    if (!waylandDisplay_.empty()) {
        environment["WAYLAND_DISPLAY"] = waylandDisplay_;
    }
    return environment;
}

std::string DesktopSession::property(const std::string& service, const std::string& path,
                                     const std::string& interface, const std::string& name) const {
    return run({"gdbus", "call", "--session", "--dest", service, "--object-path", path, "--method",
                "org.freedesktop.DBus.Properties.Get", interface, name});
}

bool DesktopSession::startKWin() {
    // The installed binary carries a file capability a container may refuse
    // to grant; a plain copy runs without it.
    const std::string kwin = home_.file("kwin_wayland");
    runProcess({"cp", "/usr/bin/kwin_wayland", kwin});
    Environment environment = this->environment();
    environment["QT_QPA_PLATFORM"] = "offscreen";
    compositor_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{kwin, "--virtual", "--width", "1280", "--height", "720",
                                 "--socket", "wayland-kwin", "--no-lockscreen"},
        environment, home_.file("kwin.out"), home_.file("kwin.err"));
    waylandDisplay_ = "wayland-kwin";
    if (!waitUntil(
            [&] {
                return property("org.kde.KWin", "/ColorCorrect", "org.kde.kwin.ColorCorrect",
                                "available") == "(<true>,)\n";
            },
            30)) {
        return false;
    }
    // KWin rewrites kwinrc once it is up; the file is settled when it has
    // stayed the same for 3 s (its tiling layout comes about 2 s after the rest).
    std::string last = readFile(home_.file("config/kwinrc"));
    int unchangedPolls = 0;
    return waitUntil(
        [&] {
            const std::string now = readFile(home_.file("config/kwinrc"));
            unchangedPolls = now == last && !now.empty() ? unchangedPolls + 1 : 0;
            last = now;
            return unchangedPolls >= 150;
        },
        20);
}

bool DesktopSession::startGnome() {
    compositor_ = start({"mutter", "--headless", "--wayland", "--no-x11", "--virtual-monitor",
                         "1280x720", "--wayland-display", "wayland-mutter"},
                        "mutter");
    if (!waitUntil([&] { return fileExists(home_.file("wayland-mutter")); }, 30)) {
        return false;
    }
    waylandDisplay_ = "wayland-mutter";
    colorDaemon_ = start({"/usr/libexec/gsd-color"}, "gsd-color");
    return waitUntil(
        [&] {
            return !property("org.gnome.SettingsDaemon.Color", "/org/gnome/SettingsDaemon/Color",
                             "org.gnome.SettingsDaemon.Color", "NightLightActive")
                        .empty();
        },
        30);
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
