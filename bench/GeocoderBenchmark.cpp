// Time from geocode() to the completion on the main thread, as the panel sees
// it, after the first lookup of the process (which also reads the places).
// libgeonames' own query is timed beside it for comparison.

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <chrono>
#include <cstdio>

#include <geonames.h>

#include "model/GeonamesGeocoder.h"

namespace {

vesperine::GeonamesGeocoder* geocoder = nullptr;

void lookUpOnce(const QString& name) {
    bool done = false;
    geocoder->geocode(name, [&done](auto, auto) { done = true; });
    while (!done) {
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
}

void BM_Lookup(benchmark::State& state, const char* name) {
    const QString text = QString::fromUtf8(name);
    for (auto _ : state) {
        lookUpOnce(text);
    }
}

void BM_LibgeonamesQuery(benchmark::State& state, const char* name) {
    for (auto _ : state) {
        guint length = 0;
        gint* indices =
            geonames_query_cities_sync(name, GEONAMES_QUERY_DEFAULT, &length, nullptr, nullptr);
        benchmark::DoNotOptimize(indices);
        g_free(indices);
    }
}

BENCHMARK_CAPTURE(BM_Lookup, common_name, "Lisbon")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_Lookup, name_with_comma, "Springfield, Illinois")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Lookup, many_candidates, "San")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_LibgeonamesQuery, common_name, "Lisbon")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    QCoreApplication app(argc, argv);
    vesperine::GeonamesGeocoder instance;
    geocoder = &instance;

    const auto start = std::chrono::steady_clock::now();
    lookUpOnce(QStringLiteral("Lisbon"));
    const std::chrono::duration<double, std::milli> first =
        std::chrono::steady_clock::now() - start;
    std::fprintf(stderr, "first lookup of the process: %.1f ms\n", first.count());

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
