#include "platform/sim/SimScheduler.h"

#include <algorithm>
#include <limits>

namespace varnu::sim {

namespace {

class SimCancellable final : public Cancellable {
public:
    void cancel() override { cancelled_ = true; }
    bool isCancelled() const override { return cancelled_; }

private:
    bool cancelled_ = false;
};

} // namespace

struct SimScheduler::Entry {
    VirtualTime due;
    std::uint64_t sequence;
    std::chrono::milliseconds repeat;
    Job job;
    std::shared_ptr<SimCancellable> token;
};

std::shared_ptr<SimScheduler> SimScheduler::create() {
    return std::shared_ptr<SimScheduler>(new SimScheduler());
}

void SimScheduler::async(Job job) {
    schedule(now_, std::chrono::milliseconds(0), std::move(job));
}

std::shared_ptr<Cancellable> SimScheduler::asyncAfter(std::chrono::milliseconds delay, Job job) {
    return schedule(now_ + delay, std::chrono::milliseconds(0), std::move(job));
}

std::shared_ptr<Cancellable>
SimScheduler::scheduleRepeatingTimer(std::chrono::milliseconds interval, Job job) {
    return schedule(now_ + interval, std::max(interval, std::chrono::milliseconds(1)),
                    std::move(job));
}

std::shared_ptr<Cancellable> SimScheduler::schedule(VirtualTime due,
                                                    std::chrono::milliseconds repeat, Job job) {
    auto token = std::make_shared<SimCancellable>();
    entries_.push_back(
        std::make_shared<Entry>(Entry{due, nextSequence_++, repeat, std::move(job), token}));
    return token;
}

std::shared_ptr<SimSerialQueue> SimScheduler::makeSerialQueue(const std::string& label) {
    auto queue = std::shared_ptr<SimSerialQueue>(new SimSerialQueue(weak_from_this(), label));
    queues_.push_back(queue);
    return queue;
}

SerialQueueFactory SimScheduler::serialQueueFactory() {
    std::weak_ptr<SimScheduler> weak = weak_from_this();
    return [weak](const std::string& label) -> std::shared_ptr<SerialQueue> {
        if (auto scheduler = weak.lock()) {
            return scheduler->makeSerialQueue(label);
        }
        return nullptr;
    };
}

bool SimScheduler::runNext(VirtualTime limit) {
    std::erase_if(entries_, [](const auto& entry) { return entry->token->isCancelled(); });
    std::erase_if(queues_, [](const auto& queue) { return queue.expired(); });

    auto mainIt =
        std::min_element(entries_.begin(), entries_.end(), [](const auto& a, const auto& b) {
            return a->due != b->due ? a->due < b->due : a->sequence < b->sequence;
        });
    std::shared_ptr<SimSerialQueue> serial;
    for (const auto& weak : queues_) {
        auto queue = weak.lock();
        if (!queue || queue->jobs_.empty()) {
            continue;
        }
        if (!serial || queue->nextStart() < serial->nextStart() ||
            (queue->nextStart() == serial->nextStart() &&
             queue->jobs_.front().sequence < serial->jobs_.front().sequence)) {
            serial = queue;
        }
    }

    const bool mainReady = mainIt != entries_.end() && (*mainIt)->due <= limit;
    const bool serialReady = serial && serial->nextStart() <= limit;
    if (!mainReady && !serialReady) {
        return false;
    }
    if (mainReady && (!serialReady || (*mainIt)->due <= serial->nextStart())) {
        auto entry = *mainIt;
        now_ = std::max(now_, entry->due);
        if (entry->repeat.count() > 0) {
            entry->due += entry->repeat;
            entry->sequence = nextSequence_++;
        } else {
            entries_.erase(mainIt);
        }
        // Copy: the job may cancel its own timer or schedule more work.
        Job job = entry->job;
        job();
        return true;
    }
    serial->runFront(*this);
    return true;
}

void SimScheduler::runUntilIdle() {
    while (runNext(now_)) {
    }
}

void SimScheduler::advance(std::chrono::milliseconds duration) {
    const VirtualTime target = now_ + duration;
    while (runNext(target)) {
    }
    now_ = std::max(now_, target);
}

bool SimScheduler::hasPendingWork() const {
    for (const auto& entry : entries_) {
        if (!entry->token->isCancelled()) {
            return true;
        }
    }
    return std::any_of(queues_.begin(), queues_.end(), [](const auto& weak) {
        auto queue = weak.lock();
        return queue && !queue->jobs_.empty();
    });
}

void SimScheduler::drain(SimSerialQueue& queue) {
    while (!queue.jobs_.empty()) {
        queue.runFront(*this);
    }
}

VirtualTime SimSerialQueue::nextStart() const {
    return std::max(jobs_.front().submittedAt, freeAt_);
}

void SimSerialQueue::runFront(SimScheduler& scheduler) {
    auto pending = std::move(jobs_.front());
    jobs_.erase(jobs_.begin());
    const VirtualTime start = std::max(pending.submittedAt, freeAt_);
    const VirtualTime resume = std::max(scheduler.now_, start);
    scheduler.now_ = start;
    pending.job();
    freeAt_ = scheduler.now_;
    scheduler.now_ = resume;
}

void SimSerialQueue::async(Job job) {
    auto scheduler = scheduler_.lock();
    if (!scheduler) {
        return;
    }
    jobs_.push_back(Pending{scheduler->now_, scheduler->nextSequence_++, std::move(job)});
}

void SimSerialQueue::sync(Job job) {
    syncFor(std::chrono::milliseconds::max(), std::move(job));
}

bool SimSerialQueue::syncFor(std::chrono::milliseconds timeout, Job job) {
    auto scheduler = scheduler_.lock();
    if (!scheduler) {
        return false;
    }
    // The caller blocks, so its time moves on to when the job is done, or to the timeout.
    const VirtualTime waitStart = scheduler->now_;
    async(std::move(job));
    scheduler->drain(*this);
    const VirtualTime finished = std::max(freeAt_, waitStart);
    const bool inTime =
        timeout == std::chrono::milliseconds::max() || finished - waitStart <= VirtualTime(timeout);
    scheduler->now_ = inTime ? finished : waitStart + VirtualTime(timeout);
    return inTime;
}

} // namespace varnu::sim
