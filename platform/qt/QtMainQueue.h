#pragma once

// The main queue on Qt's event loop.
// Implements: MainQueue as queued invocations on the GUI thread (async is safe from any thread),
// cancellable single-shot timers and repeating QTimers.
// Does not: run anything before the event loop turns, or outlive the QCoreApplication.

#include "platform/Dispatch.h"

#include <QObject>
#include <QPointer>

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

private:
    // Lives on the GUI thread; queued work and timers are tied to it, so they die with the queue.
    QObject* context_;
};

} // namespace varnu::qt
