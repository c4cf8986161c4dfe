#include "engine/StorePaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace vesperine::StorePaths {
namespace {

std::string homeDirectory() {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] == '/') {
        return home;
    }
    if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
        return entry->pw_dir;
    }
    return "/tmp";
}

// An XDG base directory: the variable when it holds an absolute path, else
// the default below the home directory.
std::string baseDirectory(const char* variable, const char* defaultBelowHome) {
    const char* value = std::getenv(variable);
    if (value != nullptr && value[0] == '/') {
        return value;
    }
    return homeDirectory() + "/" + defaultBelowHome;
}

}  // namespace

std::string settingsFile() {
    return baseDirectory("XDG_CONFIG_HOME", ".config") + "/vesperine/settings.ini";
}

std::string configHome() {
    return baseDirectory("XDG_CONFIG_HOME", ".config");
}

std::string filterStateFile() {
    return baseDirectory("XDG_STATE_HOME", ".local/state") + "/vesperine/color-filter.ini";
}

}  // namespace vesperine::StorePaths
