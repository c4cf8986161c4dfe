#pragma once

#include <memory>
#include <vector>

#include "engine/Clock.h"
#include "engine/ColorFilterState.h"
#include "engine/DisplayBackend.h"
#include "engine/KeyValueStore.h"
#include "engine/Settings.h"
#include "model/CityGeocoder.h"
#include "shell/AppDelegate.h"

namespace vesperine::testing {

struct RecordingDisplay final : DisplayBackend {
    struct Apply {
        bool enabled;
        double strength;
    };
    DisplayOutcome apply(bool enabled, double strength) override {
        applies.push_back({enabled, strength});
        return DisplayOutcome::reachedScreen();
    }
    std::string_view name() const override { return "recording"; }
    std::vector<Apply> applies;
};

// A fixed instant; counts how often it was asked, i.e. how many passes ran.
struct CountingClock final : Clock {
    explicit CountingClock(double secondsSince1970) : instant(secondsSince1970) {}
    Instant now() const override {
        ++reads;
        return Instant::fromSecondsSince1970(instant);
    }
    double instant;
    mutable int reads = 0;
};

struct IdleGeocoder final : CityGeocoder {
    void geocode(const QString&, Completion) override {}
    void cancel() override {}
};

// 2024-01-15 00:00:00 UTC: night at 0 N, 0 E.
inline constexpr double kMidnightUtc = 1705276800.0;

// Stores, display and clock of one application run, all in memory.
struct ShellWorld {
    InMemoryStore settingsStore;
    InMemoryStore filterStore;
    RecordingDisplay display;
    Settings settings{settingsStore};
    ColorFilterState filter{filterStore, display};
    CountingClock clock{kMidnightUtc};

    ShellServices services() {
        return ShellServices{[this]() -> Settings& { return settings; },
                             [this]() -> ColorFilterState& { return filter; },
                             &clock,
                             [] { return std::unique_ptr<CityGeocoder>(new IdleGeocoder); },
                             {},
                             {}};
    }

    void storeNightPlaceWithAutomation() {
        settings.setLatitude(0.0);
        settings.setLongitude(0.0);
        settings.setAutomationEnabled(true);
    }
};

}  // namespace vesperine::testing
