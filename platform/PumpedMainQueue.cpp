#include "platform/PumpedMainQueue.h"

#include <algorithm>
#include <atomic>

namespace varnu {

namespace {

class Handle final : public Cancellable {
public:
    void cancel() override { cancelled_ = true; }
    bool isCancelled() const override { return cancelled_; }

private:
    std::atomic<bool> cancelled_{false};
};

void repeat(PumpedMainQueue& queue, std::shared_ptr<Handle> handle,
            std::chrono::milliseconds interval, std::shared_ptr<Job> job) {
    queue.asyncAfter(interval, [&queue, handle, interval, job] {
        if (!handle->isCancelled()) {
            (*job)();
            repeat(queue, handle, interval, job);
        }
    });
}

} // namespace

void PumpedMainQueue::async(Job job) {
    schedule(Clock::now(), std::move(job));
}

std::shared_ptr<Cancellable> PumpedMainQueue::asyncAfter(std::chrono::milliseconds delay, Job job) {
    auto handle = std::make_shared<Handle>();
    schedule(Clock::now() + delay, [handle, job = std::move(job)] {
        if (!handle->isCancelled()) {
            job();
        }
    });
    return handle;
}

std::shared_ptr<Cancellable>
PumpedMainQueue::scheduleRepeatingTimer(std::chrono::milliseconds interval, Job job) {
    auto handle = std::make_shared<Handle>();
    repeat(*this, handle, interval, std::make_shared<Job>(std::move(job)));
    return handle;
}

bool PumpedMainQueue::pumpUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        std::unique_lock lock(mutex_);
        auto due = [&] { return !jobs_.empty() && jobs_.front().due <= Clock::now(); };
        const auto wakeAt = jobs_.empty() ? deadline : std::min(deadline, jobs_.front().due);
        wake_.wait_until(lock, wakeAt, due);
        if (!due()) {
            if (Clock::now() >= deadline) {
                return condition();
            }
            continue;
        }
        auto job = std::move(jobs_.front().job);
        jobs_.erase(jobs_.begin());
        lock.unlock(); // a job may submit more work
        job();
    }
    return true;
}

void PumpedMainQueue::pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

void PumpedMainQueue::schedule(Clock::time_point due, Job job) {
    {
        std::lock_guard lock(mutex_);
        auto position = std::upper_bound(
            jobs_.begin(), jobs_.end(), due,
            [](Clock::time_point time, const Timed& timed) { return time < timed.due; });
        jobs_.insert(position, Timed{due, std::move(job)});
    }
    wake_.notify_one();
}

} // namespace varnu
