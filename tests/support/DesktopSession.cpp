#include "support/DesktopSession.h"

#include <dirent.h>
#include <sys/stat.h>

#include <fstream>
#include <sstream>

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
    if (shell_) {
        // What a GNOME session gives its programs.
        environment["XAUTHORITY"] = xauthority_;
        environment["XDG_CURRENT_DESKTOP"] = "GNOME";
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

namespace vesperine::testing {

std::vector<std::unique_ptr<BackgroundProcess>> DesktopSession::startPanel(const std::string& panel,
                                                                           const std::string& edge,
                                                                           bool dark) const {
    std::vector<std::unique_ptr<BackgroundProcess>> started;
    const std::string config = home_.file("config");
    mkdir(config.c_str(), 0700);
    if (panel == "xfce4-panel") {
        for (const char* folder :
             {"/xfce4", "/xfce4/xfconf", "/xfce4/xfconf/xfce-perchannel-xml"}) {
            mkdir((config + folder).c_str(), 0700);
        }
        // One bar across the screen: a gap, then the tray at the right end.
        writeFile(config + "/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml",
                  "<?xml version=\"1.0\"?>\n<channel name=\"xfce4-panel\" version=\"1.0\">\n"
                  "<property name=\"configver\" type=\"int\" value=\"2\"/>\n"
                  "<property name=\"panels\" type=\"array\"><value type=\"int\" value=\"1\"/>\n"
                  "<property name=\"dark-mode\" type=\"bool\" value=\"" +
                      std::string(dark ? "true" : "false") +
                      "\"/>\n<property name=\"panel-1\" type=\"empty\">\n"
                      "<property name=\"position\" type=\"string\" value=\"" +
                      (edge == "top" ? "p=6;x=0;y=0" : "p=10;x=0;y=0") +
                      "\"/>\n<property name=\"length\" type=\"uint\" value=\"100\"/>\n"
                      "<property name=\"position-locked\" type=\"bool\" value=\"true\"/>\n"
                      "<property name=\"size\" type=\"uint\" value=\"28\"/>\n"
                      "<property name=\"plugin-ids\" type=\"array\"><value type=\"int\" "
                      "value=\"1\"/><value type=\"int\" value=\"2\"/></property>\n"
                      "</property></property>\n<property name=\"plugins\" type=\"empty\">\n"
                      "<property name=\"plugin-1\" type=\"string\" value=\"separator\">"
                      "<property name=\"expand\" type=\"bool\" value=\"true\"/>"
                      "<property name=\"style\" type=\"uint\" value=\"0\"/></property>\n"
                      "<property name=\"plugin-2\" type=\"string\" value=\"systray\"/>\n"
                      "</property>\n</channel>\n");
        started.push_back(start({"/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"}, "xfconfd"));
        started.push_back(start({"xfce4-panel", "--disable-wm-check"}, "panel"));
    } else if (panel == "lxqt-panel") {
        mkdir((config + "/lxqt").c_str(), 0700);
        writeFile(config + "/lxqt/panel.conf",
                  "[General]\npanels=panel1\n\n[panel1]\nplugins=spacer, statusnotifier\n"
                  "position=" +
                      std::string(edge == "top" ? "Top" : "Bottom") +
                      "\npanelSize=28\n\n[spacer]\ntype=spacer\nexpandable=true\n\n"
                      "[statusnotifier]\ntype=statusnotifier\n");
        // Its bar is translucent: drawn as on a desktop under a compositor.
        started.push_back(start({"xcompmgr", "-n"}, "xcompmgr"));
        started.push_back(start({"lxqt-panel"}, "panel"));
    }
    return started;
}

}  // namespace vesperine::testing

namespace vesperine::testing {
namespace {

// The command line of the Xwayland that `parent` started, split at NULs.
std::vector<std::string> xwaylandArguments(pid_t parent) {
    DIR* processes = opendir("/proc");
    std::vector<std::string> arguments;
    for (dirent* entry; processes && (entry = readdir(processes)) != nullptr;) {
        const std::string folder = std::string("/proc/") + entry->d_name;
        std::istringstream stat(readFile(folder + "/stat"));
        std::string pid, name, state;
        pid_t ppid = 0;
        if (stat >> pid >> name >> state >> ppid && ppid == parent && name == "(Xwayland)") {
            std::istringstream line(readFile(folder + "/cmdline"));
            for (std::string argument; std::getline(line, argument, '\0');) {
                arguments.push_back(argument);
            }
            break;
        }
    }
    if (processes) {
        closedir(processes);
    }
    return arguments;
}

}  // namespace

bool DesktopSession::startGnomeShell() {
    for (const char* folder : {"data", "data/gnome-shell", "data/gnome-shell/extensions",
                               "data/gnome-shell/extensions/unsafe@vesperine.test", "config",
                               "config/glib-2.0", "config/glib-2.0/settings", "cache", "sys"}) {
        mkdir(home_.file(folder).c_str(), 0700);
    }
    const std::string extension = home_.file("data/gnome-shell/extensions/unsafe@vesperine.test");
    writeFile(extension + "/metadata.json",
              R"({"uuid": "unsafe@vesperine.test", "name": "unsafe", "description": "tests only",)"
              R"( "shell-version": ["43"]})"
              "\n");
    writeFile(extension + "/extension.js",
              "function init() {\n"
              "    return { enable() { global.context.unsafe_mode = true; }, disable() {} };\n"
              "}\n");
    writeFile(home_.file("config/glib-2.0/settings/keyfile"),
              "[org/gnome/shell]\nenabled-extensions=['ubuntu-appindicators@ubuntu.com', "
              "'unsafe@vesperine.test']\nwelcome-dialog-last-shown-version='999'\n");
    systemBus_ = std::make_unique<TestBus>(home_.file("sys"));
    Environment environment = sessionEnvironment(home_, std::nullopt, busAddress_);
    environment["DBUS_SYSTEM_BUS_ADDRESS"] = systemBus_->address();
    environment["XDG_DATA_HOME"] = home_.file("data");
    environment["XDG_CACHE_HOME"] = home_.file("cache");
    environment["XDG_SESSION_TYPE"] = "wayland";
    environment["GSETTINGS_BACKEND"] = "keyfile";
    environment["NO_AT_BRIDGE"] = "1";
    environment["LIBGL_ALWAYS_SOFTWARE"] = "1";
    shell_ = std::make_unique<BackgroundProcess>(
        std::vector<std::string>{"gnome-shell", "--headless", "--wayland", "--virtual-monitor",
                                 "1280x720"},
        environment, home_.file("shell.out"), home_.file("shell.err"));
    if (!systemBus_->started() ||
        !waitUntil([&] { return shellEval("Main.layoutManager._startingUp") == "false"; }, 30)) {
        return false;
    }
    shellEval("Main.overview.hide()");
    std::vector<std::string> xwayland;
    waitUntil([&] { return (xwayland = xwaylandArguments(shell_->pid())).size() > 1; }, 10);
    for (std::size_t i = 1; i < xwayland.size(); ++i) {
        if (xwayland[i - 1] == "-auth") {
            xauthority_ = xwayland[i];
        }
    }
    if (xwayland.size() < 2 || xauthority_.empty()) {
        return false;
    }
    display_ = xwayland[1];
    return true;
}

std::string DesktopSession::shellEval(const std::string& script) const {
    ProcessOptions options;
    options.environment = sessionEnvironment(home_, std::nullopt, busAddress_);
    options.timeoutSeconds = 10;
    const std::string reply =
        runProcess({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                    "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script},
                   options)
            .out;
    // (true, 'RESULT') with RESULT in JSON; strings come quoted once more.
    const auto open = reply.find("(true, '");
    const auto close = reply.rfind("')");
    if (open == std::string::npos || close == std::string::npos || close < open + 8) {
        return "";
    }
    std::string result = reply.substr(open + 8, close - open - 8);
    if (result.size() >= 2 && result.front() == '"' && result.back() == '"') {
        result = result.substr(1, result.size() - 2);
    }
    return result;
}

}  // namespace vesperine::testing
