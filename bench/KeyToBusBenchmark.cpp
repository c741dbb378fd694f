#include "app/AppDelegate.h"
#include "bench/LatencySamples.h"
#include "bench/RoutedDesk.h"
#include "ddc/VCP.h"
#include "platform/PumpedMainQueue.h"
#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
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
    bool marked() {
        std::lock_guard lock(mutex_);
        return first_.has_value();
    }

private:
    std::mutex mutex_;
    std::condition_variable marked_;
    std::optional<Clock::time_point> first_;
};

// A main queue for a delegate on the real "ddc" thread: it takes jobs from any thread and runs
// them when the benchmark pumps it, as an event loop would. Its delayed jobs wait until the
// benchmark lets their time pass, so that a quiet period costs no real seconds. Main thread only,
// but for async.
class BenchMainQueue final : public MainQueue {
public:
    void async(Job job) override { pumped_.async(std::move(job)); }
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds, Job job) override {
        std::erase_if(held_, [](const Held& held) { return held.token->isCancelled(); });
        auto token = std::make_shared<Token>();
        held_.push_back({token, std::move(job)});
        return token;
    }
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override {
        return pumped_.scheduleRepeatingTimer(interval, std::move(job));
    }

    // Runs the main queue's jobs until the condition holds, or those due now.
    void pumpUntil(const std::function<bool()>& condition) {
        pumped_.pumpUntil(condition, std::chrono::seconds(5));
    }
    void pumpDue() { pumped_.pumpFor(std::chrono::milliseconds(0)); }
    // Every delayed job that is not called off falls due.
    void letTimePass() {
        for (auto& held : std::exchange(held_, {})) {
            if (!held.token->isCancelled()) {
                held.job();
            }
        }
    }

private:
    class Token final : public Cancellable {
    public:
        void cancel() override { cancelled_ = true; }
        bool isCancelled() const override { return cancelled_; }

    private:
        bool cancelled_ = false;
    };
    struct Held {
        std::shared_ptr<Token> token;
        Job job;
    };
    PumpedMainQueue pumped_;
    std::vector<Held> held_;
};

// The desk with the real queue and the real sleeping pauses; the clock is armed before each press
// and marked by the first message written that the bus watch picks.
struct RealQueueDesk {
    explicit RealQueueDesk(std::function<bool(std::span<const std::uint8_t>)> picks) {
        desk.services.mainQueue = mainQueue;
        desk.services.displays = std::make_shared<bench::InstantDisplays>(
            [clock = clock, queue = mainQueue,
             picks = std::move(picks)](std::span<const std::uint8_t> message) {
                if (picks(message)) {
                    clock->mark();
                    // Wakes the main thread if it is waiting for the mark.
                    queue->async([] {});
                }
            });
        desk.services.pause = std::make_shared<SleepingPause>();
        desk.services.makeSerialQueue = [](const std::string& label) {
            return std::make_shared<ThreadSerialQueue>(label);
        };
        delegate = AppDelegate::create(desk.services);
        // The level read once, as at launch.
        delegate->loadState();
        settle();
    }
    // The press's job and everything it hands back to the main queue done.
    void settle() {
        delegate->ddcQueue->sync([] {});
        mainQueue->pumpDue();
        desk.scheduler->runUntilIdle();
        desk.overlays->clearHistory();
    }

    std::shared_ptr<FirstByteClock> clock = std::make_shared<FirstByteClock>();
    std::shared_ptr<BenchMainQueue> mainQueue = std::make_shared<BenchMainQueue>();
    bench::RoutedDesk desk;
    std::shared_ptr<AppDelegate> delegate;
};

bool isLevelWrite(std::span<const std::uint8_t> message) {
    return message.size() == kSetVCPFeatureRequestSize && message[1] == kSetVCPFeature &&
           message[2] == kVCPAudioSpeakerVolume;
}

// A volume key pressed while the "ddc" queue is idle, to the first byte of the resulting job on
// the bus: the key decision, the hand-over to the queue's thread and the start of the job, with
// the real queue and the real sleeping pauses. Each press waits for the previous job's pauses.
void BM_KeyPressToFirstByteOnBus(benchmark::State& state) {
    RealQueueDesk desk([](std::span<const std::uint8_t>) { return true; });
    bench::SweepingKeys keys;
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        desk.clock->arm();
        const auto pressed = Clock::now();
        benchmark::DoNotOptimize(desk.delegate->handle(keys.next(desk.delegate->volume)));
        samples.add(desk.clock->wait() - pressed);
        desk.settle();
    }
}
BENCHMARK(BM_KeyPressToFirstByteOnBus)->UseManualTime()->Iterations(100);

// A volume key to the first byte of the level it sets on the bus (Set VCP Feature of 0x62), with
// the monitor's own overlay hidden first as by default: in a burst, where Varnu trusts the level
// it knows, or as the first key after a quiet period, which reads the monitor's level first and
// waits for the main thread to take the answer. The real queue, pauses and pumped main queue.
void BM_KeyPressToLevelOnBus(benchmark::State& state) {
    const bool quiet = state.range(0) != 0;
    RealQueueDesk desk(isLevelWrite);
    bench::SweepingKeys keys;
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        if (quiet) {
            desk.mainQueue->letTimePass();
        }
        desk.clock->arm();
        const auto pressed = Clock::now();
        benchmark::DoNotOptimize(desk.delegate->handle(keys.next(desk.delegate->volume)));
        desk.mainQueue->pumpUntil([&] { return desk.clock->marked(); });
        samples.add(desk.clock->wait() - pressed);
        desk.settle();
    }
}
BENCHMARK(BM_KeyPressToLevelOnBus)
    ->ArgName("quiet")
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Iterations(30);

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
