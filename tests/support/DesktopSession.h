#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/BackgroundProcess.h"
#include "support/TempDir.h"

namespace vesperine::testing {

// What a program sees in a session of its own: `display` (nullopt: none), no
// Wayland and no Qt platform chosen, both buses at `busAddress`, and its home,
// settings, state and runtime folders inside `home`.
Environment sessionEnvironment(const TempDir& home, const std::optional<std::string>& display,
                               const std::string& busAddress);

// A desktop for one test: a private bus, Xvfb on a free display and openbox
// managing it (or KWin, or mutter with gsd-color), each with its output in
// files in `home`. They are stopped when the object goes away, the bus last.
class DesktopSession {
  public:
    static constexpr int kScreenWidth = 1280;
    static constexpr int kScreenHeight = 800;
    static constexpr int kTrayHeight = 24;

    explicit DesktopSession(const TempDir& home) : home_(home) {}
    DesktopSession(const DesktopSession&) = delete;
    DesktopSession& operator=(const DesktopSession&) = delete;

    // The first of the session's programs and `alsoNeeded` not on PATH.
    static std::optional<std::string> missingProgram(const std::vector<std::string>& alsoNeeded);

    // With `offerServices`, the bus starts session services (dconf) on demand.
    bool startBus(bool offerServices = false);
    // kwin_wayland on "wayland-kwin"; true once Night Color answers and kwinrc settled.
    bool startKWin();
    // mutter on "wayland-mutter" and gsd-color; true once Night Light answers.
    bool startGnome();
    // A property through gdbus: "(<true>,)", "(<uint32 4200>,)"; "" on failure.
    std::string property(const std::string& service, const std::string& path,
                         const std::string& interface, const std::string& name) const;
    // Xvfb and openbox; true once the window manager has taken the screen.
    bool startDisplay();
    // The display and the error output of openbox and Xvfb: why it failed.
    std::string displayFailure() const;

    const std::string& display() const { return display_; }
    Environment environment() const;

    // `argv` in this session, its output in <home>/<name>.out and <name>.err.
    std::unique_ptr<BackgroundProcess> start(const std::vector<std::string>& argv,
                                             const std::string& name) const;
    // `argv` in this session to its end (killed after 20 s); its standard output.
    std::string run(const std::vector<std::string>& argv) const;
    // trayer as the XEmbed tray along `edge` ("top", "bottom") at `align`
    // ("center", "right"), kTrayHeight high.
    std::unique_ptr<BackgroundProcess> startTray(const std::string& edge,
                                                 const std::string& align) const;

    // "xfce4-panel" (`dark`: its dark mode) or "lxqt-panel" with its tray,
    // along `edge` ("top", "bottom"). The processes, last to stop first.
    std::vector<std::unique_ptr<BackgroundProcess>> startPanel(const std::string& panel,
                                                               const std::string& edge,
                                                               bool dark) const;

    // GNOME Shell, headless on Wayland, with its indicator extension and one
    // that opens Eval and Screenshot; the display becomes its Xwayland's.
    bool startGnomeShell();
    // JavaScript run in the shell; its result, or "" when it failed.
    std::string shellEval(const std::string& script) const;

  private:
    bool tryDisplay();

    const TempDir& home_;
    std::string display_;
    std::string waylandDisplay_;
    std::string busAddress_;
    // In the order they start; they stop the other way round.
    std::unique_ptr<TestBus> bus_;
    std::unique_ptr<BackgroundProcess> xvfb_;
    std::unique_ptr<BackgroundProcess> windowManager_;
    std::unique_ptr<BackgroundProcess> compositor_;
    std::unique_ptr<BackgroundProcess> colorDaemon_;
    std::unique_ptr<TestBus> systemBus_;
    std::unique_ptr<BackgroundProcess> shell_;
    std::string xauthority_;
};

}  // namespace vesperine::testing
