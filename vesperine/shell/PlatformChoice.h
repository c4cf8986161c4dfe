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

// What asking an X server for a connection came to.
enum class DisplayAnswer {
    answers,
    refuses,  // no server there, or it turned the connection down
    silent,   // it took the connection but did not answer in time
};
using DisplayProbe = DisplayAnswer (*)(const std::string& displayName);

struct Choice {
    // The value to give QT_QPA_PLATFORM before Qt starts; absent: leave it.
    std::optional<std::string> platform;
    // When the application cannot run: the one line for standard error.
    std::optional<std::string> failure;
};

// The tray application. It needs X11 (also through XWayland on a Wayland
// session), because only there may it place the panel under the icon; an
// explicit QT_QPA_PLATFORM that shows windows (vnc, eglfs...) is honoured, one
// that shows nothing (offscreen, minimal) fails. `probe` is asked only when
// $DISPLAY is set.
Choice forApplication(const Session& session, DisplayProbe probe);

// The self-test shows nothing: the X server when one answers, else the
// offscreen platform, whatever QT_QPA_PLATFORM says. A server that takes the
// connection and never answers fails, as for the application.
Choice forSelfTest(const Session& session, DisplayProbe probe);

// The one line for standard error when the Qt platform `platform` (as in
// QT_QPA_PLATFORM: a name, options after ':', alternatives after ';') has no
// plugin among those `installed` finds; absent when it can start.
std::optional<std::string> missingPlatform(const std::string& platform,
                                           bool (*installed)(const std::string& name));

// This process's variables.
Session current();

}  // namespace vesperine::PlatformChoice
