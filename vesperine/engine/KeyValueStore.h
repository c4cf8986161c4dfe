#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vesperine {

// What a write came to: stored, or not with one line saying why.
struct StoreOutcome {
    bool stored = true;
    std::string error;  // when not stored: one line, no trailing newline

    static StoreOutcome ok() { return {}; }
    static StoreOutcome failed(std::string why) { return {false, std::move(why)}; }
};

// One write: the key, its new text (absent: remove the key) and what goes with it.
struct StoreChange {
    std::string_view key;
    std::optional<std::string_view> text;
    // Whether the stored text already means `text` in the caller's typed
    // reading ("1" for "true", "0.50" for "0.5"); then the file is left as it
    // is. Unset: only the same text does. Asked only when `text` is present.
    std::function<bool(const std::optional<std::string>& stored)> alreadyMeans;
    // Run after the write (or the finding that nothing needed writing) while
    // other writers of the store still wait, so that what follows from the
    // writes (the screen) happens in their order. Not run when the write failed.
    std::function<void()> whileLocked;
};

// A flat map of key to text, as kept by one store. Texts are unescaped; typed
// readings (booleans, numbers) are the callers' business. Implementations hold
// no cache: every read sees the latest write, also one made by another process.
class KeyValueStore {
  public:
    virtual ~KeyValueStore() = default;
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    virtual StoreOutcome setValue(std::string_view key, std::string_view text) = 0;
    virtual StoreOutcome remove(std::string_view key) = 0;
    // A store with no other writers than this process writes (always, the
    // text as given) and then runs `whileLocked`.
    virtual StoreOutcome change(const StoreChange& change);
};

// Held in memory only: for tests, and for rendering sample pictures without
// touching the user's files.
class InMemoryStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override;
    StoreOutcome setValue(std::string_view key, std::string_view text) override;
    StoreOutcome remove(std::string_view key) override;

  private:
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace vesperine
