// bench/RunRecordBench.cpp: what recording a run costs per photo: the hash of the whole content, and the
// restore steps of a photo whose metadata head grew (the picture data shifted) or whose file grew at its end.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <span>
#include <vector>

#include "tagging/RunRecord.h"

namespace {

std::vector<std::uint8_t> Noise(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1664525U + 1013904223U;
        b = static_cast<std::uint8_t>(seed >> 24U);
    }
    return bytes;
}

void ContentHashOfAPhoto(benchmark::State& state) {
    const auto photo = Noise(static_cast<std::size_t>(state.range(0)), 1);
    for (auto _ : state) {
        benchmark::DoNotOptimize(zeloro::ContentHash::Of(photo));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(ContentHashOfAPhoto)->Arg(8 << 20);

// A tagged JPEG: a 60 KB head written anew and 300 bytes longer, the picture data after it unchanged.
void StepsOfATaggedPhoto(benchmark::State& state) {
    const auto picture = Noise(static_cast<std::size_t>(state.range(0)), 2);
    const auto oldHead = Noise(60'000, 3);
    const auto newHead = Noise(60'300, 4);
    std::vector<std::uint8_t> old = oldHead;
    old.insert(old.end(), picture.begin(), picture.end());
    const std::array<std::span<const std::uint8_t>, 2> parts{std::span<const std::uint8_t>(newHead),
                                                             std::span<const std::uint8_t>(picture)};
    std::size_t kept = 0;
    for (auto _ : state) {
        const auto steps = zeloro::RestoreSteps(old, parts);
        kept = 0;
        for (const auto& step : steps) {
            kept += step.bytes.size();
        }
        benchmark::DoNotOptimize(kept);
    }
    state.counters["kept_bytes"] = static_cast<double>(kept);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(StepsOfATaggedPhoto)->Arg(8 << 20);

}  // namespace

BENCHMARK_MAIN();
