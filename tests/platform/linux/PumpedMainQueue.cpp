#include "tests/platform/linux/PumpedMainQueue.h"

#include <algorithm>
#include <atomic>

namespace varnu::linux_backend::testing {

namespace {

class Token final : public Cancellable {
public:
    void cancel() override { cancelled_ = true; }
    bool isCancelled() const override { return cancelled_; }

private:
    std::atomic<bool> cancelled_{false};
};

} // namespace

struct PumpedMainQueue::Entry {
    Clock::time_point due;
    std::uint64_t sequence;
    Clock::duration repeat;
    Job job;
    std::shared_ptr<Token> token;
};

void PumpedMainQueue::async(Job job) {
    schedule({}, {}, std::move(job));
}

std::shared_ptr<Cancellable> PumpedMainQueue::asyncAfter(std::chrono::milliseconds delay, Job job) {
    return schedule(delay, {}, std::move(job));
}

std::shared_ptr<Cancellable>
PumpedMainQueue::scheduleRepeatingTimer(std::chrono::milliseconds interval, Job job) {
    return schedule(interval, std::max<Clock::duration>(interval, std::chrono::milliseconds(1)),
                    std::move(job));
}

std::shared_ptr<Cancellable> PumpedMainQueue::schedule(Clock::duration delay,
                                                       Clock::duration repeat, Job job) {
    auto token = std::make_shared<Token>();
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(std::make_shared<Entry>(
            Entry{Clock::now() + delay, nextSequence_++, repeat, std::move(job), token}));
    }
    wake_.notify_all();
    return token;
}

bool PumpedMainQueue::pumpUntil(const std::function<bool()>& condition,
                                std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (condition && condition()) {
            return true;
        }
        std::shared_ptr<Entry> next;
        {
            std::unique_lock lock(mutex_);
            std::erase_if(entries_, [](const auto& entry) { return entry->token->isCancelled(); });
            const auto earliest = std::min_element(
                entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
                    return a->due != b->due ? a->due < b->due : a->sequence < b->sequence;
                });
            const auto now = Clock::now();
            if (earliest != entries_.end() && (*earliest)->due <= now) {
                next = *earliest;
                if (next->repeat > Clock::duration::zero()) {
                    next->due = now + next->repeat;
                } else {
                    entries_.erase(earliest);
                }
            } else if (now >= deadline) {
                break;
            } else {
                auto wakeAt = deadline;
                if (earliest != entries_.end()) {
                    wakeAt = std::min(wakeAt, (*earliest)->due);
                }
                wake_.wait_until(lock, wakeAt);
                continue;
            }
        }
        // Outside the lock: a job may submit more work.
        next->job();
    }
    return condition && condition();
}

void PumpedMainQueue::pumpFor(std::chrono::milliseconds duration) {
    pumpUntil([] { return false; }, duration);
}

} // namespace varnu::linux_backend::testing
