#include "support/DesktopSession.h"

#include <sys/stat.h>

#include <regex>

#include "support/Subprocess.h"

// Last: Xlib's macros (None, Bool) would break the headers above.
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

namespace vesperine::testing {

Environment sessionEnvironment(const TempDir& home, const std::optional<std::string>& display,
                               const std::string& busAddress) {
    return {{"DISPLAY", display},
            {"WAYLAND_DISPLAY", std::nullopt},
            {"XAUTHORITY", std::nullopt},  // no cookies but the home's
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

std::vector<std::vector<unsigned short>> crtcRamps(const std::string& displayName) {
    std::vector<std::vector<unsigned short>> ramps;
    Display* display = XOpenDisplay(displayName.c_str());
    for (int screen = 0; display != nullptr && screen < ScreenCount(display); ++screen) {
        XRRScreenResources* resources =
            XRRGetScreenResourcesCurrent(display, RootWindow(display, screen));
        for (int i = 0; resources != nullptr && i < resources->ncrtc; ++i) {
            XRRCrtcGamma* gamma = XRRGetCrtcGamma(display, resources->crtcs[i]);
            auto& ramp = ramps.emplace_back();
            for (unsigned short* channel : {gamma->red, gamma->green, gamma->blue}) {
                ramp.insert(ramp.end(), channel, channel + gamma->size);
            }
            XRRFreeGamma(gamma);
        }
        XRRFreeScreenResources(resources);
    }
    if (display != nullptr) {
        XCloseDisplay(display);
    }
    return ramps;
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

bool DesktopSession::startXServer(const std::vector<std::string>& options) {
    std::vector<std::string> argv = {"Xvfb", "-displayfd", "1", "-nolisten", "tcp"};
    argv.insert(argv.end(), options.begin(), options.end());
    xvfb_ = start(argv, "xvfb");
    if (!waitUntil([&] { return readFile(home_.file("xvfb.out")).find('\n') != std::string::npos; },
                   20)) {
        return false;
    }
    const std::string number = readFile(home_.file("xvfb.out"));
    display_ = ":" + number.substr(0, number.find('\n'));
    return true;
}

bool DesktopSession::tryDisplay() {
    if (!startXServer(
            {"-screen", "0",
             std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24"})) {
        return false;
    }
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
    compositor_ = start({"env", "QT_QPA_PLATFORM=offscreen", kwin, "--virtual", "--width", "1280",
                         "--height", "720", "--socket", "wayland-kwin", "--no-lockscreen"},
                        "kwin");
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
    auto tray = start({"trayer", "--edge", edge, "--align", align, "--widthtype", "request",
                       "--height", std::to_string(kTrayHeight), "--SetDockType", "true",
                       "--SetPartialStrut", "true", "--transparent", "false"},
                      "trayer");
    waitUntil([&] { return trayPresent(); }, 10);
    return tray;
}

bool DesktopSession::trayPresent() const {
    Display* display = XOpenDisplay(display_.c_str());
    if (display == nullptr) {
        return false;
    }
    const bool present =
        XGetSelectionOwner(display, XInternAtom(display, "_NET_SYSTEM_TRAY_S0", False)) != 0;
    XCloseDisplay(display);
    return present;
}

std::vector<WindowBox> DesktopSession::windows(const std::string& title) const {
    const std::string tree = run({"xwininfo", "-root", "-tree"});
    const std::regex line(
        "(0x[0-9a-f]+) \"" + title +
        R"(": \("vesperine" "vesperine"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    std::vector<WindowBox> found;
    for (std::sregex_iterator it(tree.begin(), tree.end(), line), end; it != end; ++it) {
        found.push_back(WindowBox{(*it)[1], std::stoi((*it)[4]), std::stoi((*it)[5]),
                                  std::stoi((*it)[2]), std::stoi((*it)[3])});
    }
    return found;
}

std::optional<WindowBox> DesktopSession::window(const std::string& title) const {
    auto found = windows(title);
    const bool icon = title == "vesperine";
    std::erase_if(found, [&](const WindowBox& w) { return icon && (w.width < 2 || w.width > 63); });
    if (found.empty()) {
        return std::nullopt;
    }
    return icon ? found.back() : found.front();
}

void DesktopSession::click(int x, int y, const std::string& button) const {
    run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", button});
}

std::string DesktopSession::screenshot(const std::string& name) const {
    mkdir(VESPERINE_ARTIFACT_DIR, 0755);
    const std::string path = std::string(VESPERINE_ARTIFACT_DIR) + "/" + name;
    if (shell_) {
        run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
             "/org/gnome/Shell/Screenshot", "--method", "org.gnome.Shell.Screenshot.Screenshot",
             "false", "false", path});
    } else {
        run({"import", "-window", "root", path});
    }
    return path;
}

std::string DesktopSession::gamma() const {
    std::smatch m;
    const std::string out = run({"xrandr", "--verbose"});
    return std::regex_search(out, m, std::regex(R"(Gamma:\s+(\S+))")) ? m[1].str() : "";
}

std::vector<std::unique_ptr<BackgroundProcess>> DesktopSession::startPanel(const std::string& panel,
                                                                           const std::string& edge,
                                                                           bool dark) const {
    std::vector<std::unique_ptr<BackgroundProcess>> started;
    if (panel == "xfce4-panel") {
        // One bar across the screen: a gap, then the tray at the right end.
        writeFile(home_.file("config/xfce4/xfconf/xfce-perchannel-xml/xfce4-panel.xml"),
                  R"(<?xml version="1.0"?><channel name="xfce4-panel" version="1.0">
<property name="configver" type="int" value="2"/>
<property name="panels" type="array"><value type="int" value="1"/>
<property name="dark-mode" type="bool" value=")" +
                      std::string(dark ? "true" : "false") +
                      R"("/><property name="panel-1" type="empty">
<property name="position" type="string" value=")" +
                      (edge == "top" ? "p=6;x=0;y=0" : "p=10;x=0;y=0") + R"("/>
<property name="length" type="uint" value="100"/><property name="size" type="uint" value="28"/>
<property name="position-locked" type="bool" value="true"/><property name="plugin-ids" type="array">
<value type="int" value="1"/><value type="int" value="2"/></property></property></property>
<property name="plugins" type="empty"><property name="plugin-1" type="string" value="separator">
<property name="expand" type="bool" value="true"/><property name="style" type="uint" value="0"/>
</property><property name="plugin-2" type="string" value="systray"/></property></channel>
)");
        started.push_back(start({"/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"}, "xfconfd"));
        started.push_back(start({"xfce4-panel", "--disable-wm-check"}, "panel"));
    } else if (panel == "lxqt-panel") {
        writeFile(
            home_.file("config/lxqt/panel.conf"),
            "[General]\npanels=panel1\n\n[panel1]\nplugins=spacer, statusnotifier\nposition=" +
                std::string(edge == "top" ? "Top" : "Bottom") +
                "\npanelSize=28\n\n[spacer]\ntype=spacer\nexpandable=true\n\n"
                "[statusnotifier]\ntype=statusnotifier\n");
        // Its bar is translucent: drawn as on a desktop under a compositor.
        started.push_back(start({"xcompmgr", "-n"}, "xcompmgr"));
        started.push_back(start({"lxqt-panel"}, "panel"));
    }
    return started;
}

bool DesktopSession::startGnomeShell() {
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
    mkdir(home_.file("cache").c_str(), 0700);
    systemBus_ = std::make_unique<TestBus>(home_.file("sys"));
    shell_ =
        start({"env", "DBUS_SYSTEM_BUS_ADDRESS=" + systemBus_->address(),
               "XDG_SESSION_TYPE=wayland", "GSETTINGS_BACKEND=keyfile", "LIBGL_ALWAYS_SOFTWARE=1",
               "gnome-shell", "--headless", "--wayland", "--virtual-monitor", "1280x720"},
              "shell");
    if (!systemBus_->started() ||
        !waitUntil([&] { return shellEval("Main.layoutManager._startingUp") == "false"; }, 30)) {
        return false;
    }
    shellEval("Main.overview.hide()");
    // The shell hands its Xwayland's display and key to the programs it starts.
    display_ = shellEval("imports.gi.GLib.getenv('DISPLAY')");
    xauthority_ = shellEval("imports.gi.GLib.getenv('XAUTHORITY')");
    return !display_.empty() && !xauthority_.empty();
}

std::string DesktopSession::shellEval(const std::string& script) const {
    const std::string reply =
        run({"gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
             "/org/gnome/Shell", "--method", "org.gnome.Shell.Eval", script});
    // (true, 'RESULT') with RESULT in JSON; strings come quoted once more.
    std::smatch result;
    std::regex_search(reply, result, std::regex(R"re(\(true, '"?(.*?)"?'\))re"));
    return result.empty() ? "" : result[1].str();
}

}  // namespace vesperine::testing
