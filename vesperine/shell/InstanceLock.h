#pragma once

#include <sys/types.h>

#include <string>

namespace vesperine {

// One tray application per user session: an exclusive flock on a file in the
// user's runtime folder, held as long as the process lives (the kernel drops
// it when the process dies, however it dies).
class InstanceLock {
  public:
    enum class Outcome {
        acquired,
        heldElsewhere,  // another process holds it
        unavailable,    // no lock could be made (no safe folder, no file)
    };

    InstanceLock() = default;
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    // $XDG_RUNTIME_DIR/vesperine.lock when the variable names an absolute
    // folder, else /tmp/vesperine-<uid>/vesperine.lock.
    static std::string defaultPath(const char* runtimeDirectory, uid_t uid);

    // Creates the fallback folder (0700) when the lock lives there; refuses a
    // folder that is a symbolic link or belongs to someone else.
    Outcome acquire(const std::string& path);

  private:
    int fd_ = -1;
};

}  // namespace vesperine
