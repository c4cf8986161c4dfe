// Drives the key-file store with arbitrary file contents: the reader, the
// typed readings over it and one write. Input: one byte choosing the key and
// whether to remove it, the text to write up to the first NUL, then the
// file's bytes. After a write that stored, the key reads back as written, a
// file that did not parse sits aside byte for byte, and one that did keeps
// every other key.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/ColorFilterState.h"
#include "engine/KeyFileStore.h"
#include "engine/Settings.h"

namespace {

using namespace vesperine;

const char* const kKeys[] = {"enabled",           "strength",           "type",
                             "latitude",          "longitude",          "locationName",
                             "automationEnabled", "sunsetOffsetMinutes"};

std::vector<std::string> entries();

const std::string& folder() {
    // On tmpfs where there is one: every run writes and fsyncs a file.
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string& path = *new std::string([] {
        char name[] = "/dev/shm/vesperine-fuzz-XXXXXX";
        char fallback[] = "/tmp/vesperine-fuzz-XXXXXX";
        const char* made = mkdtemp(name);
        std::atexit([] {
            for (const std::string& entry : entries()) {
                unlink((folder() + "/" + entry).c_str());
            }
            rmdir(folder().c_str());
        });
        return std::string(made != nullptr ? made : mkdtemp(fallback));
    }());
    return path;
}

std::vector<std::string> entries() {
    std::vector<std::string> names;
    DIR* dir = opendir(folder().c_str());
    while (const dirent* entry = dir ? readdir(dir) : nullptr) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
            names.emplace_back(entry->d_name);
        }
    }
    if (dir != nullptr) {
        closedir(dir);
    }
    return names;
}

std::string contents(const std::string& path) {
    std::string bytes;
    if (std::FILE* file = std::fopen(path.c_str(), "rb")) {
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
            bytes.append(buffer, n);
        }
        std::fclose(file);
    }
    return bytes;
}

// The program writes only UTF-8 texts (numbers, words, names typed in the
// panel); other bytes have no faithful form in a key file, and neither has a
// leading form feed (GLib skips it on reading and has no escape for it).
bool isUtf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const std::size_t length = lead < 0x80                   ? 1
                                   : lead >= 0xC2 && lead < 0xE0 ? 2
                                   : lead >= 0xE0 && lead < 0xF0 ? 3
                                   : lead >= 0xF0 && lead < 0xF5 ? 4
                                                                 : 0;
        if (length == 0 || i + length > text.size()) {
            return false;
        }
        // No overlong forms, no surrogates, nothing beyond U+10FFFF.
        const auto second = static_cast<unsigned char>(length > 1 ? text[i + 1] : '\x80');
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second >= 0xA0) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second >= 0x90)) {
            return false;
        }
        for (std::size_t k = 1; k < length; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80) {
                return false;
            }
        }
        i += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    for (const std::string& name : entries()) {
        unlink((folder() + "/" + name).c_str());
    }
    const std::string path = folder() + "/store.ini";
    const char* key = kKeys[data[0] % (sizeof kKeys / sizeof *kKeys)];
    const bool removing = (data[0] & 0x80) != 0;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t end = rest.find('\0');
    const std::string text = rest.substr(0, end);
    const std::string file = end == std::string::npos ? std::string() : rest.substr(end + 1);
    if (!isUtf8(text) || text.rfind('\f', 0) == 0) {
        return 0;
    }
    if (std::FILE* out = std::fopen(path.c_str(), "wb")) {
        std::fwrite(file.data(), 1, file.size(), out);
        std::fclose(out);
    }

    KeyFileStore store(path, data[0] % 2 ? "ColorFilter" : "vesperine");
    NullDisplay display;
    ColorFilterState filter(store, display);
    Settings settings(store);
    (void)filter.enabled();
    (void)filter.type();
    const double strength = filter.strength();
    if (!(strength >= 0.0 && strength <= 1.0)) {
        __builtin_trap();
    }
    (void)settings.hasValidLocation();
    (void)settings.locationName();
    if (!std::isfinite(settings.sunriseOffsetMinutes() + settings.sunsetOffsetMinutes())) {
        __builtin_trap();
    }

    std::vector<std::pair<std::string, std::optional<std::string>>> before;
    for (const char* other : kKeys) {
        before.emplace_back(other, store.value(other));
    }
    const StoreOutcome outcome = removing ? store.remove(key) : store.setValue(key, text);
    if (!outcome.stored) {
        // Only an unreadable folder or file can refuse; here both are ours.
        __builtin_trap();
    }
    const auto after = store.value(key);
    if (removing ? after.has_value() : after != text) {
        __builtin_trap();
    }
    bool setAside = false;
    for (const std::string& name : entries()) {
        if (name.rfind("store.ini.broken-", 0) == 0) {
            setAside = true;
            if (contents(folder() + "/" + name) != file) {
                __builtin_trap();
            }
        }
    }
    if (!setAside) {
        for (const auto& [other, value] : before) {
            if (other != key && store.value(other) != value) {
                __builtin_trap();
            }
        }
    }
    return 0;
}
