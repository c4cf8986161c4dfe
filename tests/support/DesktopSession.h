#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/BackgroundProcess.h"
#include "support/TempDir.h"

namespace vesperine::testing {

// What a program sees in a session of its own: `display` (nullopt: none), no
// X cookies, no Wayland and no Qt platform chosen, both buses at `busAddress`, and its home,
// settings, state and runtime folders inside `home`.
Environment sessionEnvironment(const TempDir& home, const std::optional<std::string>& display,
                               const std::string& busAddress);

// One of the application's windows, where it is on the screen.
struct WindowBox {
    std::string id;
    int x = 0, y = 0, width = 0, height = 0;
    int midX() const { return x + width / 2; }
    int midY() const { return y + height / 2; }
};

// Every CRTC's red, green and blue ramps end to end, on every screen of
// `display`, read through Xlib (which the program does not use); none when
// it cannot be opened.
std::vector<std::vector<unsigned short>> crtcRamps(const std::string& display);

// A desktop for one test: a private bus, Xvfb on a free display and openbox
// managing it (or KWin, or mutter with gsd-color), each started as a part of
// the session by scripts/e2e-session.sh with its programs' output in files in
// `home` (kwin.err, shell.err...). They are stopped when the object goes
// away, the last started first.
class DesktopSession {
  public:
    static constexpr int kScreenWidth = 1280;
    static constexpr int kScreenHeight = 800;

    explicit DesktopSession(const TempDir& home) : home_(home) {}
    ~DesktopSession();
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // The first of the session's programs and `alsoNeeded` not on PATH.
    static std::optional<std::string> missingProgram(const std::vector<std::string>& alsoNeeded);

    // With `offerServices`, the bus starts session services (dconf) on demand.
    bool startBus(bool offerServices = false) {
        return startPart("bus", {offerServices ? "services" : ""});
    }
    // kwin_wayland on "wayland-kwin"; true once Night Color answers and kwinrc settled.
    bool startKWin() { return startPart("kwin"); }
    // mutter on "wayland-mutter" and gsd-color; true once Night Light answers.
    bool startGnome() { return startPart("mutter"); }
    // A property through gdbus: "(<true>,)", "(<uint32 4200>,)"; "" on failure.
    std::string property(const std::string& service, const std::string& path,
                         const std::string& interface, const std::string& name) const;
    // Xvfb and openbox; true once the window manager has taken the screen.
    bool startDisplay() { return startPart("display"); }
    // Xvfb alone with `options` ("-screen", "0", "640x480x24", ...); true once it listens.
    bool startXServer(const std::vector<std::string>& options) {
        return startPart("xserver", options);
    }
    // Why the last part that failed did not start.
    std::string displayFailure() const { return failure_; }

    std::string display() const { return environment()["DISPLAY"].value_or(""); }
    Environment environment() const;

    // `argv` in this session, its output in <home>/<name>.out and <name>.err.
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& argv,
                                             const std::string& name) const;
    // `argv` in this session to its end (killed after 20 s); its standard output.
    std::string run(const std::vector<std::string>& argv) const;
    // trayer as the XEmbed tray along `edge` ("top", "bottom") at `align`
    // ("center", "right"), 24 high; true once it owns the tray.
    bool startTray(const std::string& edge, const std::string& align) {
        return startPart("tray", {edge, align});
    }

    // The application's window titled `title` while it is viewable: the panel
    // ("Vesperine"), or the tray icon (the last small window titled "vesperine").
    std::optional<WindowBox> window(const std::string& title) const;
    // `button` ("1" left, "3" right) clicked at `x`, `y`.
    void click(int x, int y, const std::string& button = "1") const;
    // The screen (GNOME Shell's while it runs) in the build's artifacts/; its path.
    std::string screenshot(const std::string& name) const;
    // The first CRTC's gamma as xrandr shows it: "1.0:1.0:1.0" untinted.
    std::string gamma() const;

    // "xfce4-panel" (`dark`: its dark mode) or "lxqt-panel" with its tray,
    // along `edge` ("top", "bottom"); true once the bar is there.
    bool startPanel(const std::string& panel, const std::string& edge, bool dark) {
        return startPart("panel", {panel, edge, dark ? "dark" : "light"});
    }

    // GNOME Shell, headless on Wayland, with its indicator extension and one
    // that opens Eval and Screenshot; the display becomes its Xwayland's.
    bool startGnomeShell() { return startPart("gnome-shell"); }
    // JavaScript run in the shell; its result, or "" when it failed.
    std::string shellEval(const std::string& script) const;

  private:
    // The `part` of scripts/e2e-session.sh in this session, kept until the
    // session goes away; what it adds joins the session's environment, and
    // failure_ says why when it did not start.
    bool startPart(const std::string& part, const std::vector<std::string>& arguments = {});

    const TempDir& home_;
    std::string failure_;
    Environment added_;
    // In the order they started; they stop the other way round.
    std::vector<std::unique_ptr<BackgroundProcess>> parts_;
};

}  // namespace vesperine::testing
