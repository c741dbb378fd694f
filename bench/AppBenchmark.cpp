#include "app/AppDelegate.h"
#include "bench/LatencySamples.h"
#include "bench/RoutedDesk.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;

// The "ddc" queue as the key handler sees it: it takes the job, which the benchmark runs later,
// off the clock. What the job costs on the monitor is not the handler's time, but it must run,
// so that every press finds the queue idle as a single press does.
class TakingQueue final : public SerialQueue {
public:
    const std::string& label() const override { return label_; }
    void async(Job job) override { taken_.push_back(std::move(job)); }
    void sync(Job job) override {
        runTaken();
        job();
    }
    bool syncFor(std::chrono::milliseconds, Job job) override {
        sync(std::move(job));
        return true;
    }
    void runTaken() {
        for (auto& job : taken_) {
            job();
        }
        taken_.clear();
    }

private:
    std::string label_ = "ddc";
    std::vector<Job> taken_;
};

// One volume-key press on an output routed to a monitor, from the tap's event to the answer:
// routing, the key rules, the stored level, the queued write job and the overlay, then the
// main-queue turn that lets the overlay's replaced hide job go.
void BM_HandleVolumeKeyOnRoutedOutput(benchmark::State& state) {
    bench::RoutedDesk desk;
    auto queue = std::make_shared<TakingQueue>();
    desk.services.makeSerialQueue = [queue](const std::string&) { return queue; };
    auto delegate = AppDelegate::create(desk.services);
    // The monitors are found once, as by the first press after launch.
    delegate->ddcMonitor();

    bench::SweepingKeys keys;
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        const auto start = bench::LatencySamples::Clock::now();
        benchmark::DoNotOptimize(delegate->handle(keys.next(delegate->volume)));
        desk.scheduler->runUntilIdle();
        samples.add(bench::LatencySamples::Clock::now() - start);
        queue->runTaken();
        // The simulated panel keeps a record of everything; keep it from growing without end.
        if (desk.overlays->history().size() > 4096) {
            desk.overlays->clearHistory();
        }
    }
}
BENCHMARK(BM_HandleVolumeKeyOnRoutedOutput)->UseManualTime();

} // namespace
