#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "engine/KeyValueStore.h"

namespace vesperine {

// One group of a GLib key file on disk. GLib is loaded on first use, so
// commands that never touch a store do not pay for it.
//
// Reads parse the file afresh each time; a missing file or key reads as
// absent, and a file that does not parse reads as empty. A write takes an
// advisory lock on "<path>.lock", re-reads, changes one key, writes a temporary
// file in the same folder, fsyncs it and renames it over the store, keeping
// the user's comments. Files are 0600, folders 0700. A file that does not
// parse is moved aside to "<path>.broken-<UTC timestamp>" before the first
// write replaces it. A write that would change nothing touches nothing. No
// operation reports an error.
class KeyFileStore final : public KeyValueStore {
  public:
    KeyFileStore(std::string path, std::string group);

    std::optional<std::string> value(std::string_view key) const override;
    StoreOutcome setValue(std::string_view key, std::string_view text) override;
    StoreOutcome remove(std::string_view key) override;

    const std::string& path() const { return path_; }

  private:
    StoreOutcome change(std::string_view key, std::optional<std::string_view> text);

    std::string path_;
    std::string group_;
};

}  // namespace vesperine
