#pragma once

#include "platform/Dispatch.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <vector>

namespace varnu {

// A main queue in real time for programs without an event loop of their own (command-line tools,
// tests of backends): its jobs run only on the thread that pumps it. Submitting is safe from any
// thread.
class PumpedMainQueue final : public MainQueue {
public:
    void async(Job job) override;
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override;
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override;

    // Runs the jobs as they fall due until the condition holds or the time is up; answers
    // whether it holds.
    bool pumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit);
    void pumpFor(std::chrono::milliseconds duration);

private:
    using Clock = std::chrono::steady_clock;
    struct Timed {
        Clock::time_point due;
        Job job;
    };

    void schedule(Clock::time_point due, Job job);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<Timed> jobs_; // by due time, then submission order
};

} // namespace varnu
