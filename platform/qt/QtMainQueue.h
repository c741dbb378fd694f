#pragma once

// The main queue on Qt's event loop.
// Implements: MainQueue as queued invocations on the GUI thread (async is safe from any thread),
// cancellable single-shot timers and repeating QTimers, descriptors watched by socket notifiers;
// work handed over once the QCoreApplication is gone is dropped.
// Does not: run anything before the event loop turns, or after the QCoreApplication.

#include "platform/Dispatch.h"

#include <memory>

namespace varnu::qt {

class QtMainQueue final : public MainQueue {
public:
    // Must be made on the GUI thread, after the QCoreApplication.
    QtMainQueue();
    ~QtMainQueue() override;

    QtMainQueue(const QtMainQueue&) = delete;
    QtMainQueue& operator=(const QtMainQueue&) = delete;

    void async(Job job) override;
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override;
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override;
    std::shared_ptr<Cancellable> whenReadable(int fd, Job job) override;

private:
    struct Receiver;

    std::shared_ptr<Receiver> receiver_;
};

} // namespace varnu::qt
