#pragma once

// Per-iteration timing for benchmarks whose tail matters as much as their middle: each
// iteration's time is kept, handed to Google Benchmark as manual time, and published as the
// run's median and 99th percentile (counters p50_us and p99_us).

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <vector>

#include <benchmark/benchmark.h>

namespace varnu::bench {

class LatencySamples {
public:
    using Clock = std::chrono::steady_clock;

    explicit LatencySamples(benchmark::State& state)
        : state_(state) {}

    LatencySamples(const LatencySamples&) = delete;
    LatencySamples& operator=(const LatencySamples&) = delete;

    ~LatencySamples() {
        if (samples_.empty()) {
            return;
        }
        std::sort(samples_.begin(), samples_.end());
        state_.counters["p50_us"] = microseconds(percentile(50));
        state_.counters["p99_us"] = microseconds(percentile(99));
    }

    void add(Clock::duration elapsed) {
        samples_.push_back(elapsed);
        state_.SetIterationTime(std::chrono::duration<double>(elapsed).count());
    }

private:
    Clock::duration percentile(std::size_t percent) const {
        // Nearest rank: the smallest sample with at least that share of the samples at or below.
        const std::size_t rank = (samples_.size() * percent + 99) / 100;
        return samples_[std::max<std::size_t>(rank, 1) - 1];
    }

    static double microseconds(Clock::duration duration) {
        return std::chrono::duration<double, std::micro>(duration).count();
    }

    benchmark::State& state_;
    std::vector<Clock::duration> samples_;
};

} // namespace varnu::bench
