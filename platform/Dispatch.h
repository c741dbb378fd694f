#pragma once

// Queues and timers. The main queue runs everything that touches application state; a serial
// queue runs its jobs one at a time, in submission order, off the main thread.

#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace varnu {

using Job = std::function<void()>;

// A scheduled piece of work that can be called off. Cancelling work that already ran, or
// cancelling twice, does nothing.
class Cancellable {
public:
    virtual ~Cancellable() = default;
    virtual void cancel() = 0;
    virtual bool isCancelled() const = 0;
};

class MainQueue {
public:
    virtual ~MainQueue() = default;
    // Safe to call from any thread.
    virtual void async(Job job) = 0;
    // Runs the job once on the main queue after the delay, unless it is cancelled first.
    virtual std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) = 0;
    // Runs the job on the main queue every interval, the first time one interval from now,
    // until it is cancelled.
    virtual std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                                Job job) = 0;
    // Main thread: runs the job on the main queue whenever the descriptor has something to read,
    // until it is cancelled (on the main thread, before the descriptor closes). Null where the
    // main queue watches no descriptors: the caller reads it on a thread of its own.
    virtual std::shared_ptr<Cancellable> whenReadable(int /*fd*/, Job /*job*/) { return nullptr; }
};

class SerialQueue {
public:
    virtual ~SerialQueue() = default;
    virtual const std::string& label() const = 0;
    virtual void async(Job job) = 0;
    // Runs the job after every job submitted before it and waits for it.
    virtual void sync(Job job) = 0;
    // Like sync, but gives up waiting after the timeout and answers false; the job still runs
    // later, so it must own everything it touches.
    virtual bool syncFor(std::chrono::milliseconds timeout, Job job) = 0;
};

using SerialQueueFactory = std::function<std::shared_ptr<SerialQueue>(const std::string& label)>;

} // namespace varnu
