#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

// Small whole-file reads and atomic replacements for the files vesperine
// edits beside the filter state: a desktop's own configuration and the saved
// copy of the user's night-light settings.
namespace vesperine::PrivateFile {

struct Contents {
    bool exists = false;
    std::string bytes;
    std::string error;  // set when the file exists but cannot be read
};

// A regular file of at most 1 MiB, following symlinks.
Contents read(const std::string& path);

// Writes a temporary file in the target's folder, fsyncs it and renames it
// over the target. An existing file keeps its mode; a new one gets
// `newFileMode`. A symlink is written through only when its target is the
// user's own. Missing folders are made 0700. The reason when it failed, else
// empty.
std::string replace(const std::string& path, std::string_view bytes, mode_t newFileMode);

// Writes `bytes` with `mode` to a new file made from `temporaryTemplate`
// (ending in XXXXXX, in the target's folder), fsyncs it and renames it over
// `target`. The reason when it failed, else empty.
std::string writeThenRename(std::string temporaryTemplate, const std::string& target,
                            std::string_view bytes, mode_t mode);

// Removes the file; true when it is gone.
bool remove(const std::string& path);

// An exclusive advisory lock on `path` (made 0600), held for the object's
// life; waits at most a few seconds rather than hang behind a stuck holder.
class Lock {
  public:
    explicit Lock(const std::string& path);
    ~Lock();
    // Why the lock is not held (nothing may then be written), else empty.
    const std::string& failure() const { return failure_; }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

  private:
    int fd_ = -1;
    std::string failure_;
};

}  // namespace vesperine::PrivateFile
