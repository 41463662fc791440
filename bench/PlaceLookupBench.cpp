// bench/PlaceLookupBench.cpp: the place file opened and asked once (what a run with --places pays before
// its first photo), and single lookups of names and zones in a dense and an empty part of the world.
#include <benchmark/benchmark.h>

#include <string>

#include "places/PlaceIndex.h"

namespace {

const std::string kPlaceFile = ZELORO_PLACE_FILE;

void OpenAndLookUp(benchmark::State& state) {
    for (auto _ : state) {
        const zeloro::PlaceIndex index = zeloro::PlaceIndex::Open(kPlaceFile);
        benchmark::DoNotOptimize(index.Lookup(50.9375, 6.9603));
    }
}
BENCHMARK(OpenAndLookUp)->Unit(benchmark::kMicrosecond);

void LookUp(benchmark::State& state, double lat, double lon) {
    const zeloro::PlaceIndex index = zeloro::PlaceIndex::Open(kPlaceFile);
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.Lookup(lat, lon));
    }
}
BENCHMARK_CAPTURE(LookUp, Cologne, 50.9375, 6.9603)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LookUp, MidAtlantic, 45.0, -30.0)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(LookUp, NorthPole, 90.0, 0.0)->Unit(benchmark::kMicrosecond);

void ZoneOf(benchmark::State& state, double lat, double lon) {
    const zeloro::PlaceIndex index = zeloro::PlaceIndex::Open(kPlaceFile);
    for (auto _ : state) {
        benchmark::DoNotOptimize(index.ZoneName(lat, lon));
    }
}
BENCHMARK_CAPTURE(ZoneOf, Kolkata, 22.5726, 88.3639)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(ZoneOf, MidAtlantic, 45.0, -30.0)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
