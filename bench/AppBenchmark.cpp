#include "app/AppDelegate.h"
#include "bench/LatencySamples.h"
#include "bench/RoutedDesk.h"

#include <cstdint>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;

// The "ddc" queue as the key handler sees it: it only takes the job. What the job costs on the
// monitor is not the handler's time.
class TakingQueue final : public SerialQueue {
public:
    const std::string& label() const override { return label_; }
    void async(Job job) override { benchmark::DoNotOptimize(job); }
    void sync(Job job) override { job(); }
    bool syncFor(std::chrono::milliseconds, Job job) override {
        job();
        return true;
    }

private:
    std::string label_ = "ddc";
};

// One volume-key press on an output routed to a monitor, from the tap's event to the answer:
// routing, the key rules, the stored level, the queued write job and the overlay, then the
// main-queue turn that lets the overlay's replaced hide job go.
void BM_HandleVolumeKeyOnRoutedOutput(benchmark::State& state) {
    bench::RoutedDesk desk;
    desk.services.makeSerialQueue = [](const std::string&) {
        return std::make_shared<TakingQueue>();
    };
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
        // The simulated panel keeps a record of everything; keep it from growing without end.
        if (desk.overlays->history().size() > 4096) {
            desk.overlays->clearHistory();
        }
    }
}
BENCHMARK(BM_HandleVolumeKeyOnRoutedOutput)->UseManualTime();

} // namespace
