#pragma once

// The reader thread's way to the tap callback: every question and notice becomes a job on the
// main queue.
// Implements: TapCallbackChannel over MainQueue; the reader is woken after each decision.
// Does not implement: waiting (the reader never blocks on the main thread; it polls).

#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/linux/input/VolumeKeyFilter.h"

#include <functional>
#include <memory>
#include <mutex>

namespace varnu::linux_backend {

class MainQueueCallbackChannel final : public TapCallbackChannel {
public:
    // The wake function runs on the main thread after each decision, never after close().
    MainQueueCallbackChannel(std::shared_ptr<MainQueue> mainQueue, EventTapCallback callback,
                             std::function<void()> wakeReader);
    ~MainQueueCallbackChannel() override;

    MainQueueCallbackChannel(const MainQueueCallbackChannel&) = delete;
    MainQueueCallbackChannel& operator=(const MainQueueCallbackChannel&) = delete;

    // The reader's own bound keeps the answer in time: a late one never reaches the callback.
    std::shared_ptr<KeyDecision> ask(const TappedEvent& event,
                                     std::chrono::milliseconds within) override;
    void tell(const TappedEvent& event) override;

    // Jobs still queued do nothing from now on.
    void close();

private:
    struct Shared {
        EventTapCallback callback;
        std::function<void()> wakeReader;
        std::mutex mutex;
        bool closed = false;

        bool isClosed();
        void wake();
    };

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Shared> shared_;
};

} // namespace varnu::linux_backend
