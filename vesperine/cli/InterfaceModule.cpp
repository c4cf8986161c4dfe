#include "cli/InterfaceModule.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "engine/LoadedSymbol.h"

namespace vesperine {
namespace {

std::string executableDirectory() {
    std::vector<char> buffer(4096);
    const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
    if (length <= 0) {
        return ".";
    }
    std::string path(buffer.data(), static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), R_OK) == 0;
}

int reportUnavailable(const std::string& detail) {
    std::fprintf(stderr, "vesperine: %s\n", detail.c_str());
    return 1;
}

}  // namespace

const VesperineInterfaceApi* InterfaceModule::load() {
    if (api_ != nullptr) {
        return api_;
    }
    const std::string directory = executableDirectory();
    const std::string candidates[] = {
        directory + "/" VESPERINE_INTERFACE_MODULE_FILE,
        directory + "/../lib/vesperine/" VESPERINE_INTERFACE_MODULE_FILE,
    };
    for (const std::string& candidate : candidates) {
        if (!fileExists(candidate)) {
            continue;
        }
        void* handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            reportUnavailable(std::string("cannot load the menu-bar interface: ") + dlerror());
            return nullptr;
        }
        VesperineInterfaceEntry entry = nullptr;
        const VesperineInterfaceApi* api =
            bindSymbol(handle, VESPERINE_INTERFACE_ENTRY_SYMBOL, entry) ? entry() : nullptr;
        if (api == nullptr || api->abiVersion != VESPERINE_INTERFACE_ABI_VERSION) {
            reportUnavailable("the menu-bar interface module at " + candidate +
                              " does not match this executable");
            return nullptr;
        }
        api_ = api;
        return api_;
    }
    reportUnavailable("the menu-bar interface is not part of this build");
    return nullptr;
}

int InterfaceModule::runApplication() {
    const auto* api = load();
    return api ? api->runApplication(argc_, argv_) : 1;
}

int InterfaceModule::runSelfTest() {
    const auto* api = load();
    return api ? api->runSelfTest(argc_, argv_) : 1;
}

int InterfaceModule::renderPanel(const std::string& directory) {
    const auto* api = load();
    return api ? api->renderPanel(argc_, argv_, directory.c_str()) : 1;
}

}  // namespace vesperine
