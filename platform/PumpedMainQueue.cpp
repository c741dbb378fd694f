#include "platform/PumpedMainQueue.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

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

// The handle goes to the caller apart from the job, which may hold the caller's own things.
struct PumpedMainQueue::Watch {
    const int fd;
    const Job job;
    const std::shared_ptr<Handle> handle = std::make_shared<Handle>();
};

PumpedMainQueue::PumpedMainQueue() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead_ = ends[0];
        wakeWrite_ = ends[1];
    }
}

PumpedMainQueue::~PumpedMainQueue() {
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

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

std::shared_ptr<Cancellable> PumpedMainQueue::whenReadable(int fd, Job job) {
    auto watch = std::make_shared<Watch>(Watch{fd, std::move(job)});
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        watches_.push_back(watch);
        wake = std::exchange(sleeping_, false);
    }
    // A pump asleep on the descriptors it had: it takes this one along from now.
    if (wake) {
        wakePump();
    }
    return watch->handle;
}

bool PumpedMainQueue::pumpUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!condition()) {
        std::unique_lock lock(mutex_);
        if (jobs_.empty() || jobs_.front().due > Clock::now()) {
            if (Clock::now() >= deadline) {
                return condition();
            }
            lock.unlock();
            wait(deadline);
            continue;
        }
        auto job = std::move(jobs_.front().job);
        jobs_.erase(jobs_.begin());
        lock.unlock(); // a job may submit more work
        job();
    }
    return true;
}

void PumpedMainQueue::wait(Clock::time_point deadline) {
    std::vector<std::shared_ptr<Watch>> watched;
    auto until = deadline;
    {
        std::lock_guard lock(mutex_);
        std::erase_if(watches_, [](const auto& watch) { return watch->handle->isCancelled(); });
        watched = watches_;
        if (!jobs_.empty()) {
            until = std::min(until, jobs_.front().due);
        }
        if (until <= Clock::now()) {
            return;
        }
        // Whatever is submitted from now on wakes the pump.
        sleeping_ = true;
    }
    std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}};
    for (const auto& watch : watched) {
        fds.push_back({watch->fd, POLLIN, 0});
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
    ::poll(fds.data(), fds.size(),
           static_cast<int>(std::max<decltype(left.count())>(left.count(), 0)));
    {
        std::lock_guard lock(mutex_);
        sleeping_ = false;
    }
    // A submission writes one byte for each sleep at most.
    if (fds[0].revents != 0) {
        char drained[64];
        [[maybe_unused]] auto got = ::read(wakeRead_, drained, sizeof drained);
    }
    for (std::size_t index = 1; index < fds.size(); ++index) {
        const auto& watch = watched[index - 1];
        if (fds[index].revents != 0 && !watch->handle->isCancelled()) {
            watch->job();
        }
    }
}

void PumpedMainQueue::pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

void PumpedMainQueue::schedule(Clock::time_point due, Job job) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        auto position = std::upper_bound(
            jobs_.begin(), jobs_.end(), due,
            [](Clock::time_point time, const Timed& timed) { return time < timed.due; });
        jobs_.insert(position, Timed{due, std::move(job)});
        wake = std::exchange(sleeping_, false);
    }
    if (wake) {
        wakePump();
    }
}

void PumpedMainQueue::wakePump() {
    const char one = 1;
    [[maybe_unused]] auto written = ::write(wakeWrite_, &one, 1);
}

} // namespace varnu
