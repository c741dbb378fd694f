#include "app/AppDelegate.h"
#include "bench/LatencySamples.h"
#include "bench/RoutedDesk.h"
#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;
using Clock = bench::LatencySamples::Clock;

// When the first byte of a press reaches the bus. Written on the "ddc" thread, read on the
// benchmark's.
class FirstByteClock {
public:
    void arm() {
        std::lock_guard lock(mutex_);
        first_.reset();
    }
    void mark() {
        {
            std::lock_guard lock(mutex_);
            if (first_) {
                return;
            }
            first_ = Clock::now();
        }
        marked_.notify_one();
    }
    Clock::time_point wait() {
        std::unique_lock lock(mutex_);
        marked_.wait(lock, [this] { return first_.has_value(); });
        return *first_;
    }

private:
    std::mutex mutex_;
    std::condition_variable marked_;
    std::optional<Clock::time_point> first_;
};

// A volume key pressed while the "ddc" queue is idle, to the first byte of the resulting job on
// the bus: the key decision, the hand-over to the queue's thread and the start of the job, with
// the real queue and the real sleeping pauses. Each press waits for the previous job's pauses.
void BM_KeyPressToFirstByteOnBus(benchmark::State& state) {
    auto clock = std::make_shared<FirstByteClock>();
    bench::RoutedDesk desk;
    desk.services.displays = std::make_shared<bench::InstantDisplays>([clock] { clock->mark(); });
    desk.services.pause = std::make_shared<SleepingPause>();
    desk.services.makeSerialQueue = [](const std::string& label) {
        return std::make_shared<ThreadSerialQueue>(label);
    };
    auto delegate = AppDelegate::create(desk.services);
    delegate->ddcMonitor();

    bench::SweepingKeys keys;
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        clock->arm();
        const auto pressed = Clock::now();
        benchmark::DoNotOptimize(delegate->handle(keys.next(delegate->volume)));
        samples.add(clock->wait() - pressed);
        delegate->ddcQueue->sync([] {});
        desk.scheduler->runUntilIdle();
        desk.overlays->clearHistory();
    }
}
BENCHMARK(BM_KeyPressToFirstByteOnBus)->UseManualTime()->Iterations(100);

// The floor under the figure above: an empty hand-over to an idle ThreadSerialQueue whose job
// then pauses as long as a volume job does, with no key decision before it.
void BM_IdleQueueHandOver(benchmark::State& state) {
    constexpr std::uint32_t kVolumeJobMicroseconds = 60'000;
    SleepingPause pause;
    FirstByteClock clock;
    ThreadSerialQueue queue("ddc");
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        clock.arm();
        const auto submitted = Clock::now();
        queue.async([&clock, &pause] {
            clock.mark();
            pause.usleep(kVolumeJobMicroseconds);
        });
        samples.add(clock.wait() - submitted);
        queue.sync([] {});
    }
}
BENCHMARK(BM_IdleQueueHandOver)->UseManualTime()->Iterations(100);

} // namespace
