#include "engine/KeyFileStore.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <thread>

#include "engine/LoadedSymbol.h"

namespace vesperine {
namespace {

// A store is a handful of lines; anything bigger is not ours and reads as
// unusable rather than being loaded.
constexpr off_t kMaxStoreBytes = 1 << 20;
// A writer that holds the lock this long is stuck (stopped, hung disk); the
// write then goes ahead unlocked, still atomic, rather than hanging.
constexpr auto kLockPatience = std::chrono::seconds(5);

struct GLibApi {
    decltype(&g_key_file_new) keyFileNew = nullptr;
    decltype(&g_key_file_free) keyFileFree = nullptr;
    decltype(&g_key_file_load_from_data) loadFromData = nullptr;
    decltype(&g_key_file_get_string) getString = nullptr;
    decltype(&g_key_file_get_value) getValue = nullptr;
    decltype(&g_key_file_set_string) setString = nullptr;
    decltype(&g_key_file_remove_key) removeKey = nullptr;
    decltype(&g_key_file_to_data) toData = nullptr;
    decltype(&g_free) free = nullptr;
    decltype(&g_error_free) errorFree = nullptr;
};

// Loaded once, on the first store access; null when GLib is not installed.
const GLibApi* glib() {
    static const GLibApi* const api = []() -> const GLibApi* {
        void* library = dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static GLibApi loaded;
        const bool complete =
            bindSymbol(library, "g_key_file_new", loaded.keyFileNew) &&
            bindSymbol(library, "g_key_file_free", loaded.keyFileFree) &&
            bindSymbol(library, "g_key_file_load_from_data", loaded.loadFromData) &&
            bindSymbol(library, "g_key_file_get_string", loaded.getString) &&
            bindSymbol(library, "g_key_file_get_value", loaded.getValue) &&
            bindSymbol(library, "g_key_file_set_string", loaded.setString) &&
            bindSymbol(library, "g_key_file_remove_key", loaded.removeKey) &&
            bindSymbol(library, "g_key_file_to_data", loaded.toData) &&
            bindSymbol(library, "g_free", loaded.free) &&
            bindSymbol(library, "g_error_free", loaded.errorFree);
        return complete ? &loaded : nullptr;
    }();
    return api;
}

struct KeyFileDeleter {
    void operator()(GKeyFile* file) const { glib()->keyFileFree(file); }
};
using KeyFile = std::unique_ptr<GKeyFile, KeyFileDeleter>;

// Takes a g_malloc'ed string; absent for null.
std::optional<std::string> adopt(const GLibApi& api, gchar* text) {
    if (text == nullptr) {
        return std::nullopt;
    }
    std::string result(text);
    api.free(text);
    return result;
}

void discard(const GLibApi& api, GError* error) {
    if (error != nullptr) {
        api.errorFree(error);
    }
}

// What is at a store's path.
struct StoreFile {
    enum class Kind { missing, readable, unusable } kind = Kind::missing;
    std::string bytes;  // for `readable`
};

StoreFile readStoreFile(const std::string& path) {
    // Non-blocking so that a FIFO left at the path cannot stall a read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? StoreFile::Kind::missing : StoreFile::Kind::unusable, {}};
    }
    StoreFile result{StoreFile::Kind::unusable, {}};
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size <= kMaxStoreBytes) {
        std::string bytes;
        char buffer[4096];
        bool failed = false;
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                bytes.append(buffer, static_cast<std::size_t>(n));
                if (bytes.size() > static_cast<std::size_t>(kMaxStoreBytes)) {
                    failed = true;
                    break;
                }
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                failed = true;
                break;
            }
        }
        if (!failed) {
            result = {StoreFile::Kind::readable, std::move(bytes)};
        }
    }
    close(fd);
    return result;
}

// Null when the text is not a key file.
KeyFile parse(const GLibApi& api, const std::string& bytes, GKeyFileFlags flags) {
    KeyFile file(api.keyFileNew());
    GError* error = nullptr;
    if (!api.loadFromData(file.get(), bytes.data(), bytes.size(), flags, &error)) {
        discard(api, error);
        return nullptr;
    }
    return file;
}

std::string parentFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseName(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// mkdir -p; the folders made here are 0700 whatever the umask.
bool ensureFolder(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode);
    }
    const std::string parent = parentFolder(folder);
    if (parent != folder && !ensureFolder(parent)) {
        return false;
    }
    if (mkdir(folder.c_str(), 0700) == 0) {
        chmod(folder.c_str(), 0700);
        return true;
    }
    return errno == EEXIST;
}

// The path a write replaces: a store that is a symbolic link (into a dotfiles
// repository, say) keeps being one, and its target is replaced instead.
std::string replacedPath(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) != nullptr) {
            return resolved;
        }
    }
    return path;
}

class WriteLock {
  public:
    explicit WriteLock(const std::string& lockPath) {
        fd_ = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd_ < 0) {
            return;
        }
        fchmod(fd_, 0600);
        const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) ||
                std::chrono::steady_clock::now() >= deadline) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
        held_ = true;
    }
    ~WriteLock() {
        if (fd_ >= 0) {
            close(fd_);  // releases the lock
        }
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    bool held() const { return held_; }

  private:
    int fd_ = -1;
    bool held_ = false;
};

std::string temporaryPrefix(const std::string& path) {
    return baseName(path) + ".tmp-";
}

// Temporary files are only made under the lock, so with the lock held any
// that exist were left by a writer that died before its rename.
void removeLeftoverTemporaries(const std::string& path) {
    const std::string folder = parentFolder(path);
    const std::string prefix = temporaryPrefix(path);
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.substr(0, prefix.size()) == prefix) {
            unlinkat(dirfd(dir), entry->d_name, 0);
        }
    }
    closedir(dir);
}

std::string utcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%dT%H%M%SZ", &utc);
    return buffer;
}

// Renames an unreadable store to "<path>.broken-<UTC timestamp>", never over
// an existing file. False when it could not be moved: then it must not be
// replaced either.
bool moveAside(const std::string& path) {
    const std::string stem = path + ".broken-" + utcTimestamp();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string target = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
            return true;
        }
        if (errno == EEXIST) {
            continue;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return false;
        }
        // A file system without RENAME_NOREPLACE: check, then rename.
        struct stat info {};
        if (lstat(target.c_str(), &info) == 0) {
            continue;
        }
        return rename(path.c_str(), target.c_str()) == 0;
    }
    return false;
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Temporary file in the same folder, fsync, rename over: whenever the process
// dies, and after a power cut, the path holds the old bytes or the new ones.
// The folder is not synced: losing the newest write to a power cut is fine.
void replaceAtomically(const std::string& path, const std::string& bytes) {
    std::string temporary = parentFolder(path) + "/" + temporaryPrefix(path) + "XXXXXX";
    const int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    const bool written = fchmod(fd, 0600) == 0 && writeAll(fd, bytes) && fsync(fd) == 0;
    if (close(fd) != 0 || !written || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
    }
}

}  // namespace

KeyFileStore::KeyFileStore(std::string path, std::string group)
    : path_(std::move(path)), group_(std::move(group)) {}

std::optional<std::string> KeyFileStore::value(std::string_view key) const {
    const GLibApi* api = glib();
    if (api == nullptr) {
        return std::nullopt;
    }
    const StoreFile file = readStoreFile(path_);
    if (file.kind != StoreFile::Kind::readable) {
        return std::nullopt;
    }
    const KeyFile keyFile = parse(*api, file.bytes, G_KEY_FILE_NONE);
    if (!keyFile) {
        return std::nullopt;
    }
    const std::string keyText(key);
    GError* error = nullptr;
    if (auto text =
            adopt(*api, api->getString(keyFile.get(), group_.c_str(), keyText.c_str(), &error))) {
        return text;
    }
    discard(*api, error);
    // Present but not valid UTF-8 or with a bad escape: the raw text, so that
    // the key still counts as present.
    return adopt(*api, api->getValue(keyFile.get(), group_.c_str(), keyText.c_str(), nullptr));
}

StoreOutcome KeyFileStore::setValue(std::string_view key, std::string_view text) {
    return change(key, text);
}

StoreOutcome KeyFileStore::remove(std::string_view key) {
    return change(key, std::nullopt);
}

StoreOutcome KeyFileStore::change(std::string_view key, std::optional<std::string_view> text) {
    const GLibApi* api = glib();
    if (api == nullptr) {
        return StoreOutcome::failed("cannot load GLib to write " + path_);
    }
    // Already so: no folder, lock or file is made, the user's text stays as
    // it is. Unlocked, which is fine: the write would have changed nothing.
    const auto existing = value(key);
    if (text ? existing == *text : !existing) {
        return StoreOutcome::ok();
    }
    const std::string target = replacedPath(path_);
    if (!ensureFolder(parentFolder(target))) {
        return StoreOutcome::failed("cannot make the folder of " + path_);
    }
    const WriteLock lock(path_ + ".lock");
    if (lock.held()) {
        removeLeftoverTemporaries(target);
    }

    const auto flags =
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    const StoreFile current = readStoreFile(target);
    KeyFile keyFile;
    if (current.kind == StoreFile::Kind::readable) {
        keyFile = parse(*api, current.bytes, flags);
    }
    const bool currentParsed = keyFile != nullptr;
    if (!currentParsed) {
        if (current.kind != StoreFile::Kind::missing && !moveAside(target)) {
            return StoreOutcome::failed("cannot move aside the unreadable " + path_);
        }
        keyFile.reset(api->keyFileNew());
    }

    const std::string keyText(key);
    if (text) {
        api->setString(keyFile.get(), group_.c_str(), keyText.c_str(), std::string(*text).c_str());
    } else {
        GError* error = nullptr;
        api->removeKey(keyFile.get(), group_.c_str(), keyText.c_str(), &error);
        discard(*api, error);
    }
    const auto bytes = adopt(*api, api->toData(keyFile.get(), nullptr, nullptr));
    if (!bytes) {
        return StoreOutcome::failed("cannot format " + path_);
    }
    replaceAtomically(target, *bytes);
    return StoreOutcome::ok();
}

}  // namespace vesperine
