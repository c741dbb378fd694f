#pragma once

// A main queue in real time whose jobs run only on the thread that pumps it, so that a test
// thread plays the application's main thread. async() and asyncAfter() are safe from any thread.

#include "platform/Dispatch.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace varnu::linux_backend::testing {

class PumpedMainQueue final : public MainQueue {
public:
    void async(Job job) override;
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override;
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override;

    // Runs due jobs on the calling thread until the condition holds (checked before each job
    // and after each wait) or the timeout passes; answers the condition.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    // Runs due jobs for the whole duration.
    void pumpFor(std::chrono::milliseconds duration);

private:
    using Clock = std::chrono::steady_clock;
    struct Entry;

    std::shared_ptr<Cancellable> schedule(Clock::duration delay, Clock::duration repeat, Job job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::uint64_t nextSequence_ = 0;
};

} // namespace varnu::linux_backend::testing
