#include "support/DesktopSession.h"

#include <sys/stat.h>

#include <cstdio>
#include <regex>
#include <sstream>

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

bool DesktopSession::startPart(const std::string& part, const std::vector<std::string>& arguments) {
    const std::string report = home_.file(part + ".env");
    const std::string err = home_.file(part + ".serve.err");
    std::remove(report.c_str());
    std::vector<std::string> argv = {VESPERINE_E2E_SESSION, "serve", home_.path(), part};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    // It stops what it started before it ends: given time for that.
    const auto& process = parts_.emplace_back(
        std::make_unique<BackgroundProcess>(argv, environment(), "/dev/null", err, 30));
    // Each part gives up by itself within a minute or two.
    waitUntil([&] { return fileExists(report) || !process->running(); }, 300);
    std::istringstream lines(readFile(report));
    for (std::string line; std::getline(lines, line);) {
        added_[line.substr(0, line.find('='))] = line.substr(line.find('=') + 1);
    }
    const bool ready = fileExists(report) && process->running();
    failure_ = ready ? "" : readFile(err) + part + " did not start\n";
    return ready;
}

Environment DesktopSession::environment() const {
    Environment environment = added_;  // over the defaults
    environment.merge(sessionEnvironment(home_, std::nullopt, ""));
    return environment;
}

std::string DesktopSession::property(const std::string& service, const std::string& path,
                                     const std::string& interface, const std::string& name) const {
    return run({"gdbus", "call", "--session", "--dest", service, "--object-path", path, "--method",
                "org.freedesktop.DBus.Properties.Get", interface, name});
}

std::unique_ptr<BackgroundProcess> DesktopSession::start(const std::vector<std::string>& argv,
                                                         const std::string& name) const {
    return std::make_unique<BackgroundProcess>(argv, environment(), home_.file(name + ".out"),
                                               home_.file(name + ".err"));
}

std::string DesktopSession::run(const std::vector<std::string>& argv) const {
    return runProcess(argv, {environment(), "", 20}).out;
}

std::optional<WindowBox> DesktopSession::window(const std::string& title) const {
    const std::string tree = run({"xwininfo", "-root", "-tree"});
    const std::regex line(
        "(0x[0-9a-f]+) \"" + title +
        R"(": \("vesperine" "vesperine"\)\s+(\d+)x(\d+)\+-?\d+\+-?\d+\s+\+(-?\d+)\+(-?\d+))");
    const bool icon = title == "vesperine";
    std::optional<WindowBox> found;
    for (std::sregex_iterator it(tree.begin(), tree.end(), line), end; it != end; ++it) {
        const WindowBox box{(*it)[1], std::stoi((*it)[4]), std::stoi((*it)[5]), std::stoi((*it)[2]),
                            std::stoi((*it)[3])};
        if (icon ? box.width > 1 && box.width < 64 : !found) {
            found = box;
        }
    }
    if (found && run({"xwininfo", "-id", found->id}).find("IsViewable") == std::string::npos) {
        return std::nullopt;
    }
    return found;
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
