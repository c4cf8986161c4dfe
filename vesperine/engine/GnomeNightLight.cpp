#include "engine/DisplayBackends.h"

namespace vesperine {

std::unique_ptr<DisplayBackend> makeGnomeNightLight() {
    return nullptr;
}

}  // namespace vesperine
