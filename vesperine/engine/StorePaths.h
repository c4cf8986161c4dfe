#pragma once

#include <string>

namespace vesperine::StorePaths {

// $XDG_CONFIG_HOME/vesperine/settings.ini, with ~/.config when the variable is
// unset, empty or not absolute.
std::string settingsFile();

// $XDG_STATE_HOME/vesperine/color-filter.ini, with ~/.local/state likewise.
std::string filterStateFile();

// $XDG_CONFIG_HOME, with ~/.config likewise: where desktops keep their settings.
std::string configHome();

}  // namespace vesperine::StorePaths
