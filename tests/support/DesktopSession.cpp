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
    std::vector<std::string> programs = {"Xvfb",  "openbox",     "trayer",
                                         "xprop", "dbus-daemon", "python3"};
    programs.insert(programs.end(), alsoNeeded.begin(), alsoNeeded.end());
    for (const auto& program : programs) {
        if (!programInstalled(program)) {
            return program;
        }
    }
    return std::nullopt;
}

DesktopSession::~DesktopSession() {
    while (!parts_.empty()) {
        parts_.pop_back();
    }
}

std::unique_ptr<BackgroundProcess> DesktopSession::startPart(
    const std::string& part, const std::vector<std::string>& arguments) {
    SessionPart started = startSessionPart(home_.path(), part, arguments, environment());
    failure_ = started.failure;
    for (const auto& [name, value] : started.added) {
        added_[name] = value;
    }
    if (added_.count("DISPLAY") != 0) {
        display_ = added_["DISPLAY"].value_or("");
    }
    return std::move(started.process);
}

bool DesktopSession::keepPart(const std::string& part, const std::vector<std::string>& arguments) {
    parts_.push_back(startPart(part, arguments));
    return failure_.empty();
}

bool DesktopSession::startBus(bool offerServices) {
    return keepPart(
        "bus", offerServices ? std::vector<std::string>{"services"} : std::vector<std::string>{});
}

bool DesktopSession::startDisplay() {
    return keepPart("display");
}

bool DesktopSession::startXServer(const std::vector<std::string>& options) {
    return keepPart("xserver", options);
}

Environment DesktopSession::environment() const {
    Environment environment = sessionEnvironment(home_, std::nullopt, "");
    for (const auto& [name, value] : added_) {
        environment[name] = value;
    }
    return environment;
}

std::string DesktopSession::property(const std::string& service, const std::string& path,
                                     const std::string& interface, const std::string& name) const {
    return run({"gdbus", "call", "--session", "--dest", service, "--object-path", path, "--method",
                "org.freedesktop.DBus.Properties.Get", interface, name});
}

bool DesktopSession::startKWin() {
    return keepPart("kwin");
}

bool DesktopSession::startGnome() {
    return keepPart("mutter");
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
                                                             const std::string& align) {
    return startPart("tray", {edge, align});
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
    if (added_.count("XDG_CURRENT_DESKTOP") != 0) {  // GNOME Shell's
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
                                                                           bool dark) {
    std::vector<std::unique_ptr<BackgroundProcess>> started;
    started.push_back(startPart("panel", {panel, edge, dark ? "dark" : "light"}));
    return started;
}

bool DesktopSession::startGnomeShell() {
    return keepPart("gnome-shell");
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
