#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "engine/Clock.h"
#include "engine/DisplayBackend.h"
#include "engine/KeyValueStore.h"

namespace vesperine::testing {

// A clock stopped at one instant, counting how often it was read.
struct FixedClock final : Clock {
    explicit FixedClock(Instant instant) : at(instant) {}
    Instant now() const override {
        ++reads;
        return at;
    }
    Instant at;
    mutable int reads = 0;
};

// An in-memory store that logs the keys it reads and its writes as "key=value".
class RecordingStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        reads.emplace_back(key);
        return store_.value(key);
    }
    StoreOutcome setValue(std::string_view key, std::string_view text) override {
        writes.push_back(std::string(key) + "=" + std::string(text));
        return failure ? StoreOutcome::failed(*failure) : store_.setValue(key, text);
    }
    StoreOutcome remove(std::string_view key) override {
        writes.push_back("-" + std::string(key));
        return store_.remove(key);
    }
    std::vector<std::string> writes;
    mutable std::vector<std::string> reads;
    std::optional<std::string> failure;  // when set, every write fails with it

  private:
    InMemoryStore store_;
};

// Records applies, which wait to see the screen follow, apart from previews.
struct RecordingDisplay final : DisplayBackend {
    DisplayOutcome apply(bool enabled, double strength) override {
        applies.push_back({enabled, strength});
        return outcome;
    }
    DisplayOutcome preview(double strength) override {
        previews.push_back(strength);
        return DisplayOutcome::reachedScreen();
    }
    std::chrono::milliseconds previewInterval() const override { return interval; }
    std::string_view name() const override { return "recording"; }
    DisplayOutcome outcome = DisplayOutcome::reachedScreen();  // what every apply comes to
    std::vector<std::pair<bool, double>> applies;              // enabled, strength
    std::vector<double> previews;
    std::chrono::milliseconds interval{16};
};

}  // namespace vesperine::testing
