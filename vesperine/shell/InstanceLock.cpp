#include "shell/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace vesperine {
namespace {

constexpr const char* lockFileName = "vesperine.lock";

bool isUsableFolder(const std::string& path) {
    struct stat info {};
    if (lstat(path.c_str(), &info) != 0) {
        return false;
    }
    return S_ISDIR(info.st_mode) && info.st_uid == geteuid() && (info.st_mode & 0022) == 0;
}

// The folder of `path`, made private on the way when it is missing.
bool prepareFolder(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0) {
        return false;
    }
    const std::string folder = path.substr(0, slash);
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    return isUsableFolder(folder);
}

}  // namespace

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

std::string InstanceLock::defaultPath(const char* runtimeDirectory, uid_t uid) {
    if (runtimeDirectory != nullptr && runtimeDirectory[0] == '/') {
        return std::string(runtimeDirectory) + "/" + lockFileName;
    }
    return "/tmp/vesperine-" + std::to_string(uid) + "/" + lockFileName;
}

InstanceLock::Outcome InstanceLock::acquire(const std::string& path) {
    if (fd_ >= 0) {
        return Outcome::acquired;
    }
    if (!prepareFolder(path)) {
        return Outcome::unavailable;
    }
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        return Outcome::unavailable;
    }
    int result = 0;
    do {
        result = flock(fd, LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0) {
        const bool held = errno == EWOULDBLOCK;
        close(fd);
        return held ? Outcome::heldElsewhere : Outcome::unavailable;
    }
    fd_ = fd;
    return Outcome::acquired;
}

}  // namespace vesperine
