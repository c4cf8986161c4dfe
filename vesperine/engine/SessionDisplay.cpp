// The choice among the ways of reaching the screen, by what the session
// offers rather than by desktop names. It is made on the first apply, so that
// commands that only read the state never load a client library.

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include "engine/DisplayBackends.h"

namespace vesperine {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

// WAYLAND_DISPLAY, or a session that says it is Wayland and has the default
// socket (a program started without WAYLAND_DISPLAY but with XWayland's
// DISPLAY would otherwise change X ramps that never reach the screen).
bool isWaylandSession() {
    if (isSet("WAYLAND_DISPLAY")) {
        return true;
    }
    const char* type = std::getenv("XDG_SESSION_TYPE");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat socket {};
    return type != nullptr && std::string(type) == "wayland" && runtime != nullptr &&
           stat((std::string(runtime) + "/wayland-0").c_str(), &socket) == 0 &&
           S_ISSOCK(socket.st_mode);
}

constexpr std::string_view kNoWayName = "wayland-none";

class NoWayToReachTheScreen final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool, double) override {
        return DisplayOutcome::failed(
            "this Wayland compositor offers no way to change the screen's colours");
    }
    std::string_view name() const override { return kNoWayName; }
};

// A session that offered no way to the screen may offer one later (the
// desktop's colour daemon starting, or restarting, after the tray): it is
// asked again, at most this often.
constexpr auto kAskAgainAfter = std::chrono::seconds(2);

std::unique_ptr<DisplayBackend> chooseForSession() {
    if (isWaylandSession()) {
        // KWin and mutter announce no wlroots gamma control, so asking the
        // compositor first changes no choice, and spares wlroots desktops the
        // D-Bus look-ups. A compositor that cannot be reached may still be
        // KWin or GNOME, whose night lights are reached over D-Bus.
        auto wlroots = makeWlrootsGammaDisplay();
        if (wlroots && wlroots->name() == kWlrootsGammaName) {
            return wlroots;
        }
        for (auto make : {makeKWinNightColor, makeGnomeNightLight}) {
            if (auto display = make()) {
                return display;
            }
        }
        if (wlroots) {
            return wlroots;  // says why the compositor could not be asked
        }
        // Never RandR through XWayland: its ramps change nothing on screen.
        return std::make_unique<NoWayToReachTheScreen>();
    }
    if (isSet("DISPLAY")) {
        return makeRandrDisplay();
    }
    return std::make_unique<NullDisplay>();
}

class SessionDisplay final : public DisplayBackend {
  public:
    DisplayOutcome apply(bool enabled, double strength) override {
        return chosen().apply(enabled, strength);
    }
    DisplayOutcome preview(double strength) override { return chosen().preview(strength); }
    std::chrono::milliseconds previewInterval() const override {
        return chosen().previewInterval();
    }
    std::string_view name() const override { return chosen().name(); }

  private:
    DisplayBackend& chosen() const {
        const auto now = std::chrono::steady_clock::now();
        if (chosen_ &&
            (chosen_->name() == kNoWayName || chosen_->name() == kWaylandUnreachableName) &&
            now - chosenAt_ >= kAskAgainAfter) {
            chosen_.reset();
        }
        if (!chosen_) {
            chosen_ = chooseForSession();
            chosenAt_ = now;
        }
        return *chosen_;
    }

    mutable std::unique_ptr<DisplayBackend> chosen_;
    mutable std::chrono::steady_clock::time_point chosenAt_;
};

}  // namespace

std::unique_ptr<DisplayBackend> makeSessionDisplay() {
    return std::make_unique<SessionDisplay>();
}

}  // namespace vesperine
