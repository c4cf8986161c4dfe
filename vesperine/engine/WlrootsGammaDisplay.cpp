#include "engine/DisplayBackends.h"

namespace vesperine {

std::unique_ptr<DisplayBackend> makeWlrootsGammaDisplay() {
    return nullptr;
}

}  // namespace vesperine
