#pragma once

#include "platform/Dispatch.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace varnu {

// A serial queue on a thread of its own. Destruction finishes the jobs already submitted,
// then joins the thread.
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
    void run();

    std::string label_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace varnu
