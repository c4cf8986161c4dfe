#include "shell/PlatformChoice.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace vesperine::PlatformChoice {
namespace {

bool isSet(const std::optional<std::string>& value) {
    return value && !value->empty();
}

std::optional<std::string> variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::string silentServer(const std::string& display) {
    return "vesperine: the X server at " + display + " does not answer\n";
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.rfind(prefix, 0) == 0;
}

// The choice an X server at `display` makes: xcb when it answers, a failure
// when it is silent, nothing when it refuses.
std::optional<Choice> byServer(const std::string& display, DisplayProbe probe) {
    switch (probe(display)) {
        case DisplayAnswer::answers:
            return Choice{"xcb", std::nullopt};
        case DisplayAnswer::silent:
            return Choice{std::nullopt, silentServer(display)};
        case DisplayAnswer::refuses:
            break;
    }
    return std::nullopt;
}

}  // namespace

Choice forApplication(const Session& session, DisplayProbe probe) {
    if (isSet(session.qtPlatform) && !startsWith(*session.qtPlatform, "wayland") &&
        !startsWith(*session.qtPlatform, "xcb")) {
        if (startsWith(*session.qtPlatform, "offscreen") ||
            startsWith(*session.qtPlatform, "minimal")) {
            // It would run with nothing anyone can see or click.
            return {std::nullopt,
                    "vesperine: the menu-bar item cannot be shown on the Qt platform " +
                        *session.qtPlatform + "\n"};
        }
        return {};
    }
    if (isSet(session.display)) {
        return byServer(*session.display, probe)
            .value_or(
                Choice{std::nullopt, "vesperine: cannot open display " + *session.display + "\n"});
    }
    if (isSet(session.waylandDisplay)) {
        return {std::nullopt,
                "vesperine: no X display: the menu-bar item needs X11 or XWayland "
                "(DISPLAY is not set)\n"};
    }
    return {std::nullopt,
            "vesperine: no display to show the menu-bar item on (DISPLAY is not set)\n"};
}

Choice forSelfTest(const Session& session, DisplayProbe probe) {
    if (isSet(session.display)) {
        if (auto choice = byServer(*session.display, probe)) {
            return *choice;
        }
    }
    return {"offscreen", std::nullopt};
}

std::optional<std::string> missingPlatform(const std::string& platform,
                                           bool (*installed)(const std::string& name)) {
    // Qt tries the alternatives in order and starts with the first it has.
    std::size_t start = 0;
    while (start <= platform.size()) {
        const std::size_t end = std::min(platform.find(';', start), platform.size());
        const std::string alternative = platform.substr(start, end - start);
        const std::string name = alternative.substr(0, alternative.find(':'));
        if (!name.empty() && installed(name)) {
            return std::nullopt;
        }
        start = end + 1;
    }
    return "vesperine: the Qt platform " + platform + " is not available\n";
}

Session current() {
    return {variable("DISPLAY"), variable("WAYLAND_DISPLAY"), variable("QT_QPA_PLATFORM")};
}

}  // namespace vesperine::PlatformChoice
