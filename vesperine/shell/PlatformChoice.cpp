#include "shell/PlatformChoice.h"

#include <cstdlib>

namespace vesperine::PlatformChoice {
namespace {

bool isSet(const std::optional<std::string>& value) {
    return value && !value->empty();
}

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

Choice forApplication(const Session& session, bool (*displayReachable)(const std::string&)) {
    if (isSet(session.qtPlatform) && session.qtPlatform->rfind("wayland", 0) != 0 &&
        session.qtPlatform->rfind("xcb", 0) != 0) {
        return {};
    }
    if (isSet(session.display)) {
        if (!displayReachable(*session.display)) {
            return {std::nullopt, "vesperine: cannot open display " + *session.display + "\n"};
        }
        return {"xcb", std::nullopt};
    }
    if (isSet(session.waylandDisplay)) {
        return {std::nullopt,
                "vesperine: no X display: the menu-bar item needs X11 or XWayland "
                "(DISPLAY is not set)\n"};
    }
    return {std::nullopt,
            "vesperine: no display to show the menu-bar item on (DISPLAY is not set)\n"};
}

Choice forSelfTest(const Session& session, bool (*displayReachable)(const std::string&)) {
    if (isSet(session.display) && displayReachable(*session.display)) {
        return {"xcb", std::nullopt};
    }
    return {"offscreen", std::nullopt};
}

Session current() {
    return {variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("QT_QPA_PLATFORM")};
}

}  // namespace vesperine::PlatformChoice
