#include "engine/KConfigText.h"

#include <algorithm>

namespace vesperine::KConfigText {
namespace {

constexpr std::string_view kBlank = " \t\r";

std::string_view trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(kBlank);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(kBlank) - first + 1);
}

// One line of the file, its ending included, with what it says.
struct Line {
    std::string_view bytes;
    bool header = false;
    bool groupHeader = false;  // the header of the group asked for
    bool inGroup = false;      // a line below a header of the group asked for
    std::string_view key;      // for entries: the text before "=", trimmed
    std::string_view value;    // the raw text after "=", line ending excluded
};

std::vector<Line> lines(std::string_view text, std::string_view group) {
    const std::string header = "[" + std::string(group) + "]";
    std::vector<Line> result;
    bool inGroup = false;
    for (std::size_t start = 0; start < text.size();) {
        const auto newline = text.find('\n', start);
        const std::size_t end = newline == std::string_view::npos ? text.size() : newline + 1;
        Line line;
        line.bytes = text.substr(start, end - start);
        const std::string_view content = trimmed(
            line.bytes.substr(0, line.bytes.size() - (newline == std::string_view::npos ? 0 : 1)));
        if (!content.empty() && content.front() == '[') {
            line.header = true;
            inGroup = content == header;
            line.groupHeader = inGroup;
        } else if (!content.empty() && content.front() != '#') {
            if (const auto equals = content.find('='); equals != std::string_view::npos) {
                line.key = trimmed(content.substr(0, equals));
                line.value = content.substr(equals + 1);
            }
        }
        line.inGroup = inGroup && !line.header;
        result.push_back(line);
        start = end;
    }
    return result;
}

// Whether the section starting at `start` has nothing but its header line.
bool onlyBlankBelowHeader(std::string_view text, std::size_t start) {
    const auto headerEnd = text.find('\n', start);
    return headerEnd == std::string_view::npos ||
           text.find_first_not_of(" \t\r\n", headerEnd) == std::string_view::npos;
}

std::string entryLine(const std::string& key, const std::string& value) {
    return key + "=" + value + "\n";
}

}  // namespace

std::optional<std::string> value(std::string_view text, std::string_view group,
                                 std::string_view key) {
    std::optional<std::string> found;
    for (const Line& line : lines(text, group)) {
        if (line.inGroup && line.key == key) {
            found = std::string(line.value);
        }
    }
    return found;
}

std::string withEntries(std::string_view text, std::string_view group,
                        const std::vector<Entry>& entries) {
    const std::vector<Line> parsed = lines(text, group);
    // Where keys not yet in the file go: after the last non-blank line of the
    // group's last section.
    std::optional<std::size_t> insertAfter;
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const bool blank =
            trimmed(parsed[i].bytes).find_first_not_of('\n') == std::string_view::npos;
        if (parsed[i].groupHeader || (parsed[i].inGroup && !blank)) {
            insertAfter = i;
        }
    }
    std::vector<bool> present(entries.size(), false);
    bool dropsToEnd = false;  // the section being dropped is the file's last
    std::string result;
    result.reserve(text.size() + 128);
    auto appendMissing = [&] {
        for (std::size_t e = 0; e < entries.size(); ++e) {
            if (!present[e] && entries[e].second) {
                result += entryLine(entries[e].first, *entries[e].second);
            }
        }
    };
    // A section of the group that loses its last entry goes with its header,
    // so that putting the user's settings back restores the file as it was.
    std::optional<std::size_t> sectionStart;  // where its header begins in `result`
    bool sectionEmptied = false;
    auto dropEmptiedSection = [&] {
        if (sectionStart && sectionEmptied && onlyBlankBelowHeader(result, *sectionStart)) {
            result.resize(*sectionStart);
            if (result.size() >= 2 && result.ends_with("\n\n") && dropsToEnd) {
                result.pop_back();
            }
        }
        sectionStart.reset();
        sectionEmptied = false;
    };
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        const Line& line = parsed[i];
        if (line.header) {
            dropEmptiedSection();
            if (line.groupHeader) {
                sectionStart = result.size();
            }
        }
        bool replaced = false;
        for (std::size_t e = 0; e < entries.size() && line.inGroup; ++e) {
            if (line.key == entries[e].first) {
                present[e] = true;
                replaced = true;
                if (entries[e].second) {
                    result += entryLine(entries[e].first, *entries[e].second);
                } else {
                    sectionEmptied = true;
                }
            }
        }
        if (!replaced) {
            result += line.bytes;
        }
        if (insertAfter == i) {
            if (!result.empty() && result.back() != '\n') {
                result += '\n';
            }
            appendMissing();
        }
    }
    dropsToEnd = true;
    dropEmptiedSection();
    if (!insertAfter) {
        const bool anyToAdd = std::any_of(entries.begin(), entries.end(),
                                          [](const Entry& entry) { return entry.second; });
        if (anyToAdd) {
            if (!result.empty()) {
                result += result.back() == '\n' ? "\n" : "\n\n";
            }
            result += "[" + std::string(group) + "]\n";
            appendMissing();
        }
    }
    return result;
}

}  // namespace vesperine::KConfigText
