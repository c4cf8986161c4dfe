#include <benchmark/benchmark.h>

#include "schedule/Scheduler.h"

namespace {

using namespace vesperine;

// One decision at a time stepping through a year, so that every branch and
// every season is measured, not one cached answer.
void decideThroughTheYear(benchmark::State& state, double latitude, double longitude) {
    double seconds = 1704067200.0;  // 2024-01-01
    for (auto _ : state) {
        const auto decision = Scheduler::decide(latitude, longitude, 0.0, 30.0,
                                                Instant::fromSecondsSince1970(seconds));
        benchmark::DoNotOptimize(decision);
        seconds += 3607.0;
    }
}

void BM_DecideLisbon(benchmark::State& state) {
    decideThroughTheYear(state, 38.72, -9.14);
}
void BM_DecideTromso(benchmark::State& state) {
    decideThroughTheYear(state, 69.65, 18.96);
}

BENCHMARK(BM_DecideLisbon);
BENCHMARK(BM_DecideTromso);

}  // namespace

BENCHMARK_MAIN();
