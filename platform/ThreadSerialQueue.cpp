#include "platform/ThreadSerialQueue.h"

#include <condition_variable>
#include <deque>
#include <future>
#include <mutex>

namespace varnu {

struct ThreadSerialQueue::State {
    std::mutex mutex;
    std::condition_variable wake;
    std::deque<Job> jobs;
    bool stopping = false;
    bool abandoned = false;

    static void run(const std::shared_ptr<State>& state) {
        for (;;) {
            Job job;
            {
                std::unique_lock lock(state->mutex);
                state->wake.wait(lock, [&] { return state->stopping || !state->jobs.empty(); });
                if (state->jobs.empty()) {
                    return;
                }
                job = std::move(state->jobs.front());
                state->jobs.pop_front();
            }
            job();
        }
    }
};

ThreadSerialQueue::ThreadSerialQueue(std::string label)
    : label_(std::move(label))
    , state_(std::make_shared<State>())
    , thread_([state = state_] { State::run(state); }) {}

ThreadSerialQueue::~ThreadSerialQueue() {
    bool abandoned = false;
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        abandoned = state_->abandoned;
    }
    state_->wake.notify_one();
    if (!thread_.joinable()) {
        return;
    }
    if (abandoned) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

void ThreadSerialQueue::async(Job job) {
    {
        std::lock_guard lock(state_->mutex);
        state_->jobs.push_back(std::move(job));
    }
    state_->wake.notify_one();
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
    if (finished.wait_for(timeout) == std::future_status::ready) {
        return true;
    }
    std::lock_guard lock(state_->mutex);
    state_->abandoned = true;
    return false;
}

bool ThreadSerialQueue::isCurrent() const {
    return std::this_thread::get_id() == thread_.get_id();
}

} // namespace varnu
