#include "engine/SavedSettings.h"

#include "engine/StorePaths.h"

namespace vesperine::SavedSettings {

std::string format(const Values& values) {
    std::string text;
    for (const auto& [key, value] : values) {
        text += key;
        if (value) {
            text += "=" + *value;
        }
        text += "\n";
    }
    return text;
}

Values parse(std::string_view text) {
    Values values;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        const std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
        if (line.empty()) {
            continue;
        }
        const auto equals = line.find('=');
        if (equals == std::string_view::npos) {
            values.emplace_back(std::string(line), std::nullopt);
        } else {
            values.emplace_back(std::string(line.substr(0, equals)),
                                std::string(line.substr(equals + 1)));
        }
    }
    return values;
}

std::string path(std::string_view name) {
    const std::string state = StorePaths::filterStateFile();
    return state.substr(0, state.rfind('/') + 1) + std::string(name);
}

}  // namespace vesperine::SavedSettings
