#pragma once

// Virtual time for the simulated world. The scheduler is the main queue and owns the serial
// queues; nothing runs until a test or the scenario runner advances it. Events run in time
// order; at equal times main-queue work runs before serial-queue work, then in submission order.
//
// A serial-queue job starts when its queue is free and runs to completion at once, but the
// time it sees moves on with every pause it takes, so its I2C traffic and the work it posts back
// to the main queue carry the times they would have on a real thread. Main-queue work due while
// such a job is "still running" runs at its own time.

#include "platform/Dispatch.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace varnu::sim {

using VirtualTime = std::chrono::microseconds;

class SimSerialQueue;

class SimScheduler final : public MainQueue, public std::enable_shared_from_this<SimScheduler> {
public:
    static std::shared_ptr<SimScheduler> create();

    VirtualTime now() const { return now_; }
    std::int64_t nowMilliseconds() const {
        return std::chrono::duration_cast<std::chrono::milliseconds>(now_).count();
    }

    // Moves the current time on by the pause; used by the pauses taken inside a job.
    void sleep(VirtualTime duration) { now_ += duration; }

    void async(Job job) override;
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override;
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override;

    // A serial queue whose jobs run in this scheduler's time.
    std::shared_ptr<SimSerialQueue> makeSerialQueue(const std::string& label);
    SerialQueueFactory serialQueueFactory();

    // Runs everything that is due now, including what that work submits for now, without moving
    // the clock.
    void runUntilIdle();
    // Runs everything due within the duration, in time order, and ends at now + duration.
    void advance(std::chrono::milliseconds duration);
    // Whether anything is waiting, timers included.
    bool hasPendingWork() const;

private:
    friend class SimSerialQueue;
    struct Entry;
    SimScheduler() = default;

    // Runs the earliest event due at or before the limit; false when there is none.
    bool runNext(VirtualTime limit);
    std::shared_ptr<Cancellable> schedule(VirtualTime due, std::chrono::milliseconds repeat,
                                          Job job);
    // Runs every job of the queue, each at its own start time; used by sync submissions.
    void drain(SimSerialQueue& queue);

    VirtualTime now_{0};
    std::uint64_t nextSequence_ = 0;
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<std::weak_ptr<SimSerialQueue>> queues_;
};

class SimSerialQueue final : public SerialQueue {
public:
    const std::string& label() const override { return label_; }
    void async(Job job) override;
    void sync(Job job) override;
    bool syncFor(std::chrono::milliseconds timeout, Job job) override;

    // Jobs submitted and not yet run.
    std::size_t pendingJobs() const { return jobs_.size(); }

private:
    friend class SimScheduler;
    struct Pending {
        VirtualTime submittedAt;
        std::uint64_t sequence;
        Job job;
    };
    SimSerialQueue(std::weak_ptr<SimScheduler> scheduler, std::string label)
        : scheduler_(std::move(scheduler))
        , label_(std::move(label)) {}

    VirtualTime nextStart() const;
    void runFront(SimScheduler& scheduler);

    std::weak_ptr<SimScheduler> scheduler_;
    std::string label_;
    std::vector<Pending> jobs_;
    VirtualTime freeAt_{0};
};

} // namespace varnu::sim
