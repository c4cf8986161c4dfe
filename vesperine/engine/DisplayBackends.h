#pragma once

#include <memory>

#include "engine/DisplayBackend.h"

// The ways of reaching a session's screen. Each factory is cheap when its way
// is not offered; client libraries are loaded only by the one chosen.
namespace vesperine {

// X11 RandR gamma ramps on every CRTC of the server named by DISPLAY.
std::unique_ptr<DisplayBackend> makeRandrDisplay();

// wlroots gamma control on every output of the Wayland compositor named by
// WAYLAND_DISPLAY; null when the compositor does not offer it. When the
// compositor cannot be reached, a backend named "wayland-unreachable" that
// says so on every apply.
inline constexpr std::string_view kWlrootsGammaName = "wayland-wlr-gamma";
// The compositor could not be asked at all.
inline constexpr std::string_view kWaylandUnreachableName = "wayland-unreachable";
std::unique_ptr<DisplayBackend> makeWlrootsGammaDisplay();

// KWin's Night Color, through kwinrc and D-Bus; null when org.kde.KWin is not
// on the session bus.
std::unique_ptr<DisplayBackend> makeKWinNightColor();

// GNOME's Night Light, through GSettings and D-Bus; null when
// org.gnome.SettingsDaemon.Color is not on the session bus.
std::unique_ptr<DisplayBackend> makeGnomeNightLight();

}  // namespace vesperine
