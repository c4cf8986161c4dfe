#include "engine/ReconcileEngine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vesperine {
namespace {

// Every key the engine reads or writes in the live filter state.
class RecordingStore final : public KeyValueStore {
  public:
    std::optional<std::string> value(std::string_view key) const override {
        reads.emplace_back(key);
        return inner.value(key);
    }
    StoreOutcome setValue(std::string_view key, std::string_view text) override {
        writes.emplace_back(key);
        return inner.setValue(key, text);
    }
    StoreOutcome remove(std::string_view key) override {
        writes.emplace_back(key);
        return inner.remove(key);
    }

    mutable std::vector<std::string> reads;
    std::vector<std::string> writes;
    InMemoryStore inner;
};

constexpr Instant kLisbonJanuaryNoon = Instant::fromSecondsSince1970(1705320000);  // 12:00Z

class Engine : public ::testing::Test {
  protected:
    void setLive(bool on) {
        liveStore.inner.setValue("enabled", on ? "true" : "false");
        liveStore.reads.clear();
    }

    InMemoryStore settingsStore;
    Settings settings{settingsStore};
    RecordingStore liveStore;
    NullDisplay display;
    ColorFilterState live{liveStore, display};
};

TEST_F(Engine, ClosedGateTouchesNothingLiveAndSnapshotStillReports) {
    struct Case {
        const char* automation;  // null: key missing
        double latitude;
        bool automationRead;
        bool hasLocation;
    };
    const Case cases[] = {
        {nullptr, 38.72, false, true},
        {"false", 38.72, false, true},
        {"false", 91.0, false, false},
        {"true", 91.0, true, false},
    };
    for (const auto& c : cases) {
        settingsStore.remove(Settings::automationEnabledKey);
        if (c.automation != nullptr) {
            settingsStore.setValue(Settings::automationEnabledKey, c.automation);
        }
        settings.setLatitude(c.latitude);
        settings.setLongitude(-9.14);
        setLive(true);
        liveStore.writes.clear();
        EXPECT_FALSE(ReconcileEngine::reconcile(settings, live, kLisbonJanuaryNoon));
        EXPECT_TRUE(liveStore.reads.empty());
        EXPECT_TRUE(liveStore.writes.empty());

        const auto snapshot = ReconcileEngine::snapshot(settings, live, kLisbonJanuaryNoon);
        EXPECT_EQ(snapshot.automationEnabled, c.automationRead);
        EXPECT_EQ(snapshot.hasLocation, c.hasLocation);
        EXPECT_TRUE(snapshot.currentlyEnabled);
        EXPECT_FALSE(snapshot.decision.has_value());
        EXPECT_TRUE(liveStore.writes.empty());
    }
}

}  // namespace
}  // namespace vesperine
