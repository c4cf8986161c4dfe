#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vesperine {

// A flat map of key to text, as kept by one store. Texts are unescaped; typed
// readings (booleans, numbers) are the callers' business. Implementations hold
// no cache: every read sees the latest write, also one made by another process.
class KeyValueStore {
  public:
    virtual ~KeyValueStore() = default;
    virtual std::optional<std::string> value(std::string_view key) const = 0;
    virtual void setValue(std::string_view key, std::string_view text) = 0;
    virtual void remove(std::string_view key) = 0;
};

// Held in memory only: for tests, and for rendering sample pictures without
// touching the user's files.
class InMemoryStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override;
    void setValue(std::string_view key, std::string_view text) override;
    void remove(std::string_view key) override;

  private:
    std::map<std::string, std::string, std::less<>> values_;
};

}  // namespace vesperine
