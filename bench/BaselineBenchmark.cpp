#include "bench/LatencySamples.h"

#include <cstdint>

#include <benchmark/benchmark.h>

namespace {

// The machine's unit for the other figures: a fixed chain of dependent multiply-adds, about as
// long as one key decision, timed the same way. Figures divided by it compare across machines.
void BM_CalibratedLoop(benchmark::State& state) {
    constexpr int kSteps = 1000;
    varnu::bench::LatencySamples samples(state);
    std::uint64_t value = 1;
    for (auto _ : state) {
        const auto start = varnu::bench::LatencySamples::Clock::now();
        for (int step = 0; step < kSteps; ++step) {
            value = value * 6364136223846793005ULL + 1442695040888963407ULL;
            benchmark::DoNotOptimize(value);
        }
        samples.add(varnu::bench::LatencySamples::Clock::now() - start);
    }
}
BENCHMARK(BM_CalibratedLoop)->UseManualTime();

} // namespace
