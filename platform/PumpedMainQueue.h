#pragma once

#include "platform/Dispatch.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace varnu {

// A main queue in real time for programs without an event loop of their own (command-line tools,
// tests of backends): its jobs run only on the thread that pumps it, and so do the jobs of the
// descriptors it watches. Submitting is safe from any thread.
class PumpedMainQueue final : public MainQueue {
public:
    PumpedMainQueue();
    ~PumpedMainQueue() override;
    PumpedMainQueue(const PumpedMainQueue&) = delete;
    PumpedMainQueue& operator=(const PumpedMainQueue&) = delete;

    void async(Job job) override;
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override;
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override;
    std::shared_ptr<Cancellable> whenReadable(int fd, Job job) override;

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
    struct Watch;

    void schedule(Clock::time_point due, Job job);
    void wakePump();
    // Sleeps until the next job is due (the deadline at the latest), a submission or a watched
    // descriptor; runs the descriptors' jobs.
    void wait(Clock::time_point deadline);

    std::mutex mutex_;
    std::vector<Timed> jobs_; // by due time, then submission order
    std::vector<std::shared_ptr<Watch>> watches_;
    bool sleeping_ = false;
    // The pump sleeps in poll on its reading end; a submission writes to the other.
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
};

} // namespace varnu
