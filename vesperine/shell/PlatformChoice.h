#pragma once

#include <optional>
#include <string>

namespace vesperine::PlatformChoice {

// The variables that decide which Qt platform can run; absent or empty
// values are both "not set".
struct Session {
    std::optional<std::string> display;         // $DISPLAY
    std::optional<std::string> waylandDisplay;  // $WAYLAND_DISPLAY
    std::optional<std::string> qtPlatform;      // $QT_QPA_PLATFORM
};

struct Choice {
    // The value to give QT_QPA_PLATFORM before Qt starts; absent: leave it.
    std::optional<std::string> platform;
    // When the application cannot run: the one line for standard error.
    std::optional<std::string> failure;
};

// The tray application. It needs X11 (also through XWayland on a Wayland
// session), because only there may it place the panel under the icon; an
// explicit non-Wayland QT_QPA_PLATFORM (offscreen, vnc...) is honoured.
// `displayReachable` is asked only when $DISPLAY is set.
Choice forApplication(const Session& session, bool (*displayReachable)(const std::string&));

// The self-test shows nothing: the X server when one answers, else the
// offscreen platform, whatever QT_QPA_PLATFORM says.
Choice forSelfTest(const Session& session, bool (*displayReachable)(const std::string&));

// This process's variables.
Session current();

}  // namespace vesperine::PlatformChoice
