#include "engine/PrivateFile.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace vesperine::PrivateFile {
namespace {

constexpr off_t kMaxBytes = 1 << 20;
constexpr auto kLockPatience = std::chrono::seconds(5);

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

void makeFolders(const std::string& folder) {
    if (folder.empty() || folder == "/" || access(folder.c_str(), F_OK) == 0) {
        return;
    }
    makeFolders(folderOf(folder));
    if (mkdir(folder.c_str(), 0700) == 0) {
        chmod(folder.c_str(), 0700);
    }
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

std::string withReason(const std::string& what, const std::string& path) {
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

Contents read(const std::string& path) {
    Contents result;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        if (errno != ENOENT && errno != ENOTDIR) {
            result.exists = true;
            result.error = withReason("cannot read", path);
        }
        return result;
    }
    result.exists = true;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > kMaxBytes) {
        result.error = "cannot read " + path + ": not a small regular file";
        close(fd);
        return result;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            result.bytes.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            result.error = withReason("cannot read", path);
            break;
        }
    }
    close(fd);
    return result;
}

std::string replace(const std::string& path, std::string_view bytes, mode_t newFileMode) {
    std::string target = path;
    struct stat info {};
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        // A dotfile manager's link: write where it points, if that is ours.
        char* resolved = realpath(path.c_str(), nullptr);
        struct stat pointed {};
        const bool ours = resolved != nullptr && stat(resolved, &pointed) == 0 &&
                          S_ISREG(pointed.st_mode) && pointed.st_uid == getuid();
        if (resolved != nullptr) {
            target = resolved;
            free(resolved);
        }
        if (!ours) {
            return path + " is a link to a file that is not the user's own; left alone";
        }
    }
    mode_t mode = newFileMode;
    if (stat(target.c_str(), &info) == 0) {
        mode = info.st_mode & 07777;
    } else {
        makeFolders(folderOf(target));
    }
    return writeThenRename(target + ".XXXXXX", target, bytes, mode);
}

std::string writeThenRename(std::string temporaryTemplate, const std::string& target,
                            std::string_view bytes, mode_t mode) {
    const int fd = mkostemp(temporaryTemplate.data(), O_CLOEXEC);
    if (fd < 0) {
        return withReason("cannot write", target);
    }
    bool written = fchmod(fd, mode) == 0 && writeAll(fd, bytes) && fsync(fd) == 0;
    std::string reason = written ? std::string() : withReason("cannot write", target);
    written = close(fd) == 0 && written;
    if (written && rename(temporaryTemplate.c_str(), target.c_str()) != 0) {
        reason = withReason("cannot write", target);
        written = false;
    }
    if (!written) {
        unlink(temporaryTemplate.c_str());
        return reason.empty() ? "cannot write " + target : reason;
    }
    return {};
}

bool remove(const std::string& path) {
    return unlink(path.c_str()) == 0 || errno == ENOENT;
}

Lock::Lock(const std::string& path) {
    makeFolders(folderOf(path));
    fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd_ < 0) {
        failure_ = withReason("cannot lock", path);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + kLockPatience;
    while (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() >= deadline) {
            failure_ = "cannot lock " + path + ": another writer has held it for over 5 s";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

Lock::~Lock() {
    if (fd_ >= 0) {
        close(fd_);  // releases the lock
    }
}

}  // namespace vesperine::PrivateFile
