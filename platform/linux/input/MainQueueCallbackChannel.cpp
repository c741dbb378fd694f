#include "platform/linux/input/MainQueueCallbackChannel.h"

namespace varnu::linux_backend {

bool MainQueueCallbackChannel::Shared::isClosed() {
    std::lock_guard lock(mutex);
    return closed;
}

void MainQueueCallbackChannel::Shared::wake() {
    // Under the lock, so that close() cannot return while the reader's wake-up is being written.
    std::lock_guard lock(mutex);
    if (!closed && wakeReader) {
        wakeReader();
    }
}

MainQueueCallbackChannel::MainQueueCallbackChannel(std::shared_ptr<MainQueue> mainQueue,
                                                   EventTapCallback callback,
                                                   std::function<void()> wakeReader)
    : mainQueue_(std::move(mainQueue))
    , shared_(std::make_shared<Shared>()) {
    shared_->callback = std::move(callback);
    shared_->wakeReader = std::move(wakeReader);
}

MainQueueCallbackChannel::~MainQueueCallbackChannel() {
    close();
}

void MainQueueCallbackChannel::close() {
    std::lock_guard lock(shared_->mutex);
    shared_->closed = true;
}

std::shared_ptr<KeyDecision> MainQueueCallbackChannel::ask(const TappedEvent& event,
                                                           std::chrono::milliseconds) {
    auto decision = std::make_shared<KeyDecision>();
    mainQueue_->async([shared = shared_, decision, event] {
        if (shared->isClosed() || !decision->begin()) {
            return;
        }
        decision->finish(shared->callback(event));
        shared->wake();
    });
    return decision;
}

void MainQueueCallbackChannel::tell(const TappedEvent& event) {
    mainQueue_->async([shared = shared_, event] {
        if (!shared->isClosed()) {
            shared->callback(event);
        }
    });
}

} // namespace varnu::linux_backend
