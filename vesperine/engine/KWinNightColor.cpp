#include "engine/DisplayBackends.h"

namespace vesperine {

std::unique_ptr<DisplayBackend> makeKWinNightColor() {
    return nullptr;
}

}  // namespace vesperine
