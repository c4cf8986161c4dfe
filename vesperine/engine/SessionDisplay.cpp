#include <cstdlib>

#include "engine/DisplayBackends.h"

namespace vesperine {
namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0';
}

}  // namespace

std::unique_ptr<DisplayBackend> makeSessionDisplay() {
    if (isSet("WAYLAND_DISPLAY")) {
        for (auto make : {makeKWinNightColor, makeGnomeNightLight, makeWlrootsGammaDisplay}) {
            if (auto display = make()) {
                return display;
            }
        }
    }
    if (isSet("DISPLAY")) {
        return makeRandrDisplay();
    }
    return std::make_unique<NullDisplay>();
}

}  // namespace vesperine
