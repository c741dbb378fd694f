#include "platform/ThreadSerialQueue.h"

#include <future>

namespace varnu {

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : label_(std::move(label))
    , thread_([this] { run(); }) {}

ThreadSerialQueue::~ThreadSerialQueue() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void ThreadSerialQueue::async(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void ThreadSerialQueue::sync(Job job) {
    if (isCurrent()) {
        job();
        return;
    }
    std::promise<void> done;
    auto finished = done.get_future();
    async([&job, &done] {
        job();
        done.set_value();
    });
    finished.wait();
}

bool ThreadSerialQueue::syncFor(std::chrono::milliseconds timeout, Job job) {
    if (isCurrent()) {
        job();
        return true;
    }
    // The caller may stop waiting, so the job and its completion flag live in shared state.
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    async([job = std::move(job), done] {
        job();
        done->set_value();
    });
    return finished.wait_for(timeout) == std::future_status::ready;
}

bool ThreadSerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void ThreadSerialQueue::run() {
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (jobs_.empty()) {
                return;
            }
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

} // namespace varnu
