#include "platform/linux/devices-service/KeyQuestions.h"

#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/VolumeKeyStrokes.h"

#include <algorithm>
#include <utility>

namespace varnu::linux_backend::devices {
namespace {

std::shared_ptr<KeyDecision> decided(TapDecision decision) {
    auto made = std::make_shared<KeyDecision>();
    made->begin();
    made->finish(decision);
    return made;
}

} // namespace

KeyQuestions::KeyQuestions(std::function<void()> wakeReader, std::function<void()> notAnswering)
    : wakeReader_(std::move(wakeReader))
    , notAnswering_(std::move(notAnswering)) {}

void KeyQuestions::settleOpen() {
    for (auto& [id, decision] : open_) {
        if (decision->begin()) {
            decision->finish(TapDecision::Pass);
        }
    }
    if (!open_.empty()) {
        open_.clear();
        wakeReader_();
    }
}

void KeyQuestions::serve(int fd) {
    std::lock_guard lock(mutex_);
    if (fd != fd_) {
        settleOpen();
        fd_ = fd;
        // A client no longer served cannot fail this one; its socket's number may come again.
        notAnsweringFd_ = -1;
    }
}

int KeyQuestions::takeNotAnswering() {
    std::lock_guard lock(mutex_);
    return std::exchange(notAnsweringFd_, -1);
}

bool KeyQuestions::answer(const Answer& answer) {
    std::lock_guard lock(mutex_);
    auto found = open_.find(answer.id);
    if (found == open_.end()) {
        return false;
    }
    // A decision the reader gave up on stays given up: the key went on.
    if (found->second->begin()) {
        found->second->finish(answer.keep ? TapDecision::Swallow : TapDecision::Pass);
        wakeReader_();
    }
    open_.erase(found);
    return true;
}

std::shared_ptr<KeyDecision> KeyQuestions::ask(const TappedEvent& event,
                                               std::chrono::milliseconds within) {
    auto stroke = event.event ? strokeOf(*event.event) : std::nullopt;
    std::lock_guard lock(mutex_);
    // Given up questions are the reader's to forget; the client may still answer them late.
    std::erase_if(open_, [](const auto& entry) { return entry.second.use_count() == 1; });
    if (fd_ < 0 || !stroke) {
        return decided(TapDecision::Pass);
    }
    auto id = nextId_++;
    auto withinMs = static_cast<std::uint16_t>(
        std::min<std::chrono::milliseconds::rep>(within.count(), kLongestAnswerWithin));
    if (!sendPacket(fd_, encode(Question{id, *stroke, withinMs}))) {
        notAnsweringFd_ = fd_;
        notAnswering_();
        return decided(TapDecision::Pass);
    }
    auto decision = std::make_shared<KeyDecision>();
    open_.emplace(id, decision);
    return decision;
}

void KeyQuestions::tell(const TappedEvent& event) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        return;
    }
    if (event.type == kCGEventTapDisabledByTimeout) {
        sendPacket(fd_, encode(TapSwitchedOff{SwitchOffCause::Timeout}));
        notAnsweringFd_ = fd_;
        notAnswering_();
        return;
    }
    if (auto stroke = event.event ? strokeOf(*event.event) : std::nullopt) {
        sendPacket(fd_, encode(Notice{*stroke}));
    }
}

} // namespace varnu::linux_backend::devices
