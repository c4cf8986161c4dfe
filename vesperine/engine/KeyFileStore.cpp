#include "engine/KeyFileStore.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>

#include "engine/LoadedSymbol.h"
#include "engine/PrivateFile.h"

namespace vesperine {
namespace {

// A store is a handful of lines; anything bigger is not ours and reads as
// unusable rather than being loaded.
constexpr off_t kMaxStoreBytes = 1 << 20;

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

std::string withReason(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// What is at a store's path, read through at most one symbolic link to a
// regular file of the user's.
struct StoreFile {
    enum class Kind {
        missing,   // nothing there: the first write makes it
        readable,  // read completely into `bytes`
        refused,   // there but not to be read or replaced: `error` says why
    } kind = Kind::missing;
    std::string bytes;
    std::string error;
    std::string target;  // the file a write replaces
    bool viaLink = false;
};

StoreFile refusedFile(std::string why) {
    return {StoreFile::Kind::refused, {}, std::move(why), {}, false};
}

StoreFile readStoreFile(const std::string& path) {
    StoreFile result;
    result.target = path;
    struct stat link {};
    if (lstat(path.c_str(), &link) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            return result;
        }
        return refusedFile(withReason("cannot read " + path));
    }
    const std::string notMine =
        path + " is a link to something other than a file of yours; left alone";
    if (S_ISLNK(link.st_mode)) {
        char resolved[PATH_MAX];
        if (realpath(path.c_str(), resolved) == nullptr) {
            return refusedFile(notMine);
        }
        result.target = resolved;
        result.viaLink = true;
    }
    // No link is followed past this point: one swapped in after the check
    // above is refused, not read. Non-blocking so that a FIFO cannot stall it.
    const int fd =
        open(result.target.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) {
        if (errno == ENOENT && !result.viaLink) {
            return result;
        }
        return errno == ELOOP ? refusedFile(notMine)
                              : refusedFile(withReason("cannot read " + path));
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        result = refusedFile(withReason("cannot read " + path));
    } else if (result.viaLink && (!S_ISREG(info.st_mode) || info.st_uid != geteuid())) {
        result = refusedFile(notMine);
    } else if (!S_ISREG(info.st_mode)) {
        result = refusedFile(path + " is not a regular file; left alone");
    } else if (info.st_size > kMaxStoreBytes) {
        result = refusedFile(path + " is larger than a settings file can be; left alone");
    } else {
        result.kind = StoreFile::Kind::readable;
        char buffer[4096];
        for (;;) {
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0 && result.bytes.size() + static_cast<std::size_t>(n) <=
                             static_cast<std::size_t>(kMaxStoreBytes)) {
                result.bytes.append(buffer, static_cast<std::size_t>(n));
            } else if (n > 0) {
                result = refusedFile(path + " is larger than a settings file can be; left alone");
                break;
            } else if (n == 0) {
                break;
            } else if (errno != EINTR) {
                result = refusedFile(withReason("cannot read " + path));
                break;
            }
        }
    }
    close(fd);
    return result;
}

// Null when the text is not a key file.
KeyFile parse(const GLibApi& api, std::string_view bytes, GKeyFileFlags flags) {
    // Editors on some systems start UTF-8 files with a byte-order mark.
    constexpr std::string_view byteOrderMark = "\xEF\xBB\xBF";
    if (bytes.substr(0, byteOrderMark.size()) == byteOrderMark) {
        bytes.remove_prefix(byteOrderMark.size());
    }
    // GLib reads a line only up to a NUL, and would write back a file that
    // reads differently: such bytes are not a settings file.
    if (bytes.find('\0') != std::string_view::npos) {
        return nullptr;
    }
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

// mkdir -p; the folders made here are 0700 whatever the umask. Why not, or
// an empty text.
std::string ensureFolder(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? std::string() : folder + " is not a folder";
    }
    const std::string parent = parentFolder(folder);
    if (parent != folder) {
        if (auto failure = ensureFolder(parent); !failure.empty()) {
            return failure;
        }
    }
    if (mkdir(folder.c_str(), 0700) == 0) {
        chmod(folder.c_str(), 0700);
        return {};
    }
    return errno == EEXIST ? std::string() : withReason("cannot make the folder " + folder);
}

// As ssh with a loose ~/.ssh: a folder someone else can write to could hold
// a planted link or lock, so nothing is written there. Why, or an empty text.
std::string folderRefusal(const std::string& folder) {
    struct stat info {};
    if (stat(folder.c_str(), &info) != 0) {
        return withReason("cannot use the folder " + folder);
    }
    if (info.st_uid != geteuid()) {
        return "refusing the folder " + folder + ": it belongs to another user";
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return "refusing the folder " + folder + ": others may write to it (chmod go-w)";
    }
    return {};
}

class WriteLock {
  public:
    WriteLock(const std::string& lockPath, std::chrono::milliseconds patience) {
        // Never through a link, never a FIFO's wait, never someone else's file.
        fd_ = open(lockPath.c_str(),
                   O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
        if (fd_ < 0) {
            failure_ = errno == ELOOP ? "cannot lock " + lockPath + ": it is a symbolic link"
                                      : withReason("cannot lock " + lockPath);
            return;
        }
        struct stat info {};
        if (fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
            failure_ = "cannot lock " + lockPath + ": not a regular file of yours";
            return;
        }
        fchmod(fd_, 0600);
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR) {
                failure_ = withReason("cannot lock " + lockPath);
                return;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                char seconds[32];
                std::snprintf(seconds, sizeof seconds, "%g", patience.count() / 1000.0);
                failure_ = "cannot lock " + lockPath + ": another writer has held it for over " +
                           seconds + " s";
                return;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
    ~WriteLock() {
        if (fd_ >= 0) {
            close(fd_);  // releases the lock
        }
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    // Empty when the lock is held.
    const std::string& failure() const { return failure_; }

  private:
    int fd_ = -1;
    std::string failure_;
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

// Whenever the process dies, and after a power cut, the path holds the old
// bytes or the new ones. The folder is not synced: losing the newest write to
// a power cut is fine. Why it failed, or an empty text.
std::string replaceAtomically(const std::string& path, const std::string& bytes) {
    return PrivateFile::writeThenRename(parentFolder(path) + "/" + temporaryPrefix(path) + "XXXXXX",
                                        path, bytes, 0600);
}

// The text under `key`: unescaped, or raw when it is not valid UTF-8 or has a
// bad escape, so that the key still counts as present.
std::optional<std::string> keyText(const GLibApi& api, GKeyFile* file, const std::string& group,
                                   std::string_view key) {
    const std::string name(key);
    GError* error = nullptr;
    if (auto text = adopt(api, api.getString(file, group.c_str(), name.c_str(), &error))) {
        return text;
    }
    discard(api, error);
    return adopt(api, api.getValue(file, group.c_str(), name.c_str(), nullptr));
}

bool alreadySo(const StoreChange& change, const std::optional<std::string>& stored) {
    if (!change.text) {
        return !stored;
    }
    return change.alreadyMeans ? change.alreadyMeans(stored) : stored == *change.text;
}

// The file's text with the change made. A key written more than once by hand
// comes back after GLib removes one of its lines, so the text is read again
// and changed again until it reads as wanted: at most once per line.
std::optional<std::string> changedText(const GLibApi& api, KeyFile keyFile,
                                       const std::string& group, const StoreChange& change,
                                       GKeyFileFlags flags, std::size_t lines) {
    const std::string key(change.key);
    const std::string text(change.text.value_or(""));
    for (std::size_t round = 0; round <= lines && keyFile; ++round) {
        if (change.text) {
            api.setString(keyFile.get(), group.c_str(), key.c_str(), text.c_str());
        } else {
            GError* error = nullptr;
            api.removeKey(keyFile.get(), group.c_str(), key.c_str(), &error);
            discard(api, error);
        }
        auto bytes = adopt(api, api.toData(keyFile.get(), nullptr, nullptr));
        if (!bytes) {
            return std::nullopt;
        }
        keyFile = parse(api, *bytes, flags);
        const auto stored = keyFile ? keyText(api, keyFile.get(), group, change.key) : std::nullopt;
        if (keyFile && (change.text ? stored == text : !stored)) {
            return bytes;
        }
    }
    return std::nullopt;
}

}  // namespace

KeyFileStore::KeyFileStore(std::string path, std::string group,
                           std::chrono::milliseconds lockPatience)
    : path_(std::move(path)), group_(std::move(group)), lockPatience_(lockPatience) {}

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
    return keyFile ? keyText(*api, keyFile.get(), group_, key) : std::nullopt;
}

StoreOutcome KeyFileStore::setValue(std::string_view key, std::string_view text) {
    return change(StoreChange{key, text, {}, {}});
}

StoreOutcome KeyFileStore::remove(std::string_view key) {
    return change(StoreChange{key, std::nullopt, {}, {}});
}

StoreOutcome KeyFileStore::change(const StoreChange& change) {
    const GLibApi* api = glib();
    if (api == nullptr) {
        return StoreOutcome::failed("cannot load GLib to write " + path_);
    }
    if (!change.whileLocked) {
        // Already so: no folder, lock or file is made, the user's text stays
        // as it is. Unlocked, which is fine: the write would change nothing.
        const StoreFile file = readStoreFile(path_);
        const KeyFile keyFile = file.kind == StoreFile::Kind::readable
                                    ? parse(*api, file.bytes, G_KEY_FILE_NONE)
                                    : nullptr;
        if ((file.kind == StoreFile::Kind::missing && alreadySo(change, std::nullopt)) ||
            (keyFile && alreadySo(change, keyText(*api, keyFile.get(), group_, change.key)))) {
            return StoreOutcome::ok();
        }
    }
    const std::string folder = parentFolder(path_);
    std::string failure = ensureFolder(folder);
    if (failure.empty()) {
        failure = folderRefusal(folder);
    }
    if (!failure.empty()) {
        return StoreOutcome::failed(failure);
    }
    const WriteLock lock(path_ + ".lock", lockPatience_);
    if (!lock.failure().empty()) {
        return StoreOutcome::failed(lock.failure());
    }

    const StoreFile current = readStoreFile(path_);
    if (current.kind == StoreFile::Kind::refused) {
        return StoreOutcome::failed(current.error);
    }
    if (current.viaLink) {
        if (auto refusal = folderRefusal(parentFolder(current.target)); !refusal.empty()) {
            return StoreOutcome::failed(refusal);
        }
    }
    const auto flags =
        static_cast<GKeyFileFlags>(G_KEY_FILE_KEEP_COMMENTS | G_KEY_FILE_KEEP_TRANSLATIONS);
    KeyFile keyFile;
    if (current.kind == StoreFile::Kind::readable) {
        keyFile = parse(*api, current.bytes, flags);
        if (!keyFile && current.viaLink) {
            // Whatever the link points at is the user's to sort out.
            return StoreOutcome::failed(path_ +
                                        " links to a file that is not a settings file; left alone");
        }
        if (!keyFile && !moveAside(current.target)) {
            return StoreOutcome::failed(withReason("cannot move aside the unreadable " + path_));
        }
    }
    if (!keyFile) {
        keyFile.reset(api->keyFileNew());
    }

    if (!alreadySo(change, keyText(*api, keyFile.get(), group_, change.key))) {
        const auto lines =
            static_cast<std::size_t>(std::count(current.bytes.begin(), current.bytes.end(), '\n'));
        const auto bytes = changedText(*api, std::move(keyFile), group_, change, flags, lines);
        if (!bytes) {
            return StoreOutcome::failed("cannot format " + path_);
        }
        removeLeftoverTemporaries(current.target);
        if (auto written = replaceAtomically(current.target, *bytes); !written.empty()) {
            return StoreOutcome::failed(written);
        }
    }
    if (change.whileLocked) {
        change.whileLocked();
    }
    return StoreOutcome::ok();
}

}  // namespace vesperine
