#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Line-based reading and editing of one group of a KDE configuration file
// (kwinrc). Only the lines of the keys named are touched; every other byte,
// including KConfig syntax a generic INI writer mangles ("[A][B]" groups,
// "Key[$i]" flags, localised keys, comments), stays as it was.
namespace vesperine::KConfigText {

// A key's new raw value, or nullopt to remove the key.
using Entry = std::pair<std::string, std::optional<std::string>>;

// The raw text after "=" of the last plain `key` line in `[group]`; nullopt
// when there is none.
std::optional<std::string> value(std::string_view text, std::string_view group,
                                 std::string_view key);

// `text` with every plain line of each entry's key in `[group]` replaced (or
// removed), and keys not yet there added at the end of the group's last
// section; the group is appended when the file has none.
std::string withEntries(std::string_view text, std::string_view group,
                        const std::vector<Entry>& entries);

}  // namespace vesperine::KConfigText
