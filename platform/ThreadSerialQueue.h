#pragma once

#include "platform/Dispatch.h"

#include <memory>
#include <thread>

namespace varnu {

// A serial queue on a thread of its own. Destruction finishes the jobs already submitted, then
// joins the thread, unless a syncFor has given up on a job: then the thread is left to finish on
// its own, so that a transaction stuck on a bus cannot hang whoever destroys the queue.
class ThreadSerialQueue final : public SerialQueue {
public:
    explicit ThreadSerialQueue(std::string label);
    ~ThreadSerialQueue() override;

    ThreadSerialQueue(const ThreadSerialQueue&) = delete;
    ThreadSerialQueue& operator=(const ThreadSerialQueue&) = delete;

    const std::string& label() const override { return label_; }
    void async(Job job) override;
    void sync(Job job) override;
    bool syncFor(std::chrono::milliseconds timeout, Job job) override;

    // True on the queue's own thread; a sync from there would wait for itself.
    bool isCurrent() const;

private:
    struct State;

    std::string label_;
    // Shared with the thread, which may outlive the queue.
    std::shared_ptr<State> state_;
    std::thread thread_;
};

} // namespace varnu
