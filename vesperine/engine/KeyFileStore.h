#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "engine/KeyValueStore.h"

namespace vesperine {

// One group of a GLib key file on disk. GLib is loaded on first use, so
// commands that never touch a store do not pay for it.
//
// Reads parse the file afresh each time; a missing file or key reads as
// absent, and a file that cannot be read or does not parse reads as empty. A
// UTF-8 byte-order mark is skipped. A write takes an advisory lock on
// "<path>.lock" (never following a link there, and never writing without it),
// re-reads, changes one key, writes a temporary file in the same folder, fsyncs
// it and renames it over the store, keeping the user's comments. Files are
// 0600, folders 0700; a folder of another user, or one that group or others
// may write to, is refused. A store that is a symbolic link is followed only
// to a regular file of the user's. A file read completely that does not parse
// is moved aside to "<path>.broken-<UTC timestamp>" before the first write
// replaces it; any other failure leaves every file alone and fails the write
// with its reason. A write that would change nothing touches nothing.
class KeyFileStore final : public KeyValueStore {
  public:
    static constexpr std::chrono::milliseconds defaultLockPatience{5000};

    // `lockPatience`: how long a write waits for another writer's lock.
    KeyFileStore(std::string path, std::string group,
                 std::chrono::milliseconds lockPatience = defaultLockPatience);

    std::optional<std::string> value(std::string_view key) const override;
    StoreOutcome setValue(std::string_view key, std::string_view text) override;
    StoreOutcome remove(std::string_view key) override;
    StoreOutcome change(const StoreChange& change) override;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
    std::string group_;
    std::chrono::milliseconds lockPatience_;
};

}  // namespace vesperine
