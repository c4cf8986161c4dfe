#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The user's own night-light settings as they were before vesperine took
// over a desktop's night light, kept in the state folder until vesperine
// turns the filter off and puts them back. One line per key: "key=value",
// or the key alone when the user had not set it.
namespace vesperine::SavedSettings {

using Values = std::vector<std::pair<std::string, std::optional<std::string>>>;

std::string format(const Values& values);
Values parse(std::string_view text);

// $XDG_STATE_HOME/vesperine/<name>, beside the filter state.
std::string path(std::string_view name);

}  // namespace vesperine::SavedSettings
