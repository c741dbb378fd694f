#include "platform/linux/input/KeyDecision.h"

namespace varnu::linux_backend {

bool KeyDecision::begin() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Waiting) {
        return false;
    }
    state_ = State::Deciding;
    return true;
}

void KeyDecision::finish(TapDecision decision) {
    std::lock_guard lock(mutex_);
    if (state_ == State::Deciding) {
        decision_ = decision;
        state_ = State::Decided;
    }
}

std::optional<TapDecision> KeyDecision::result() const {
    std::lock_guard lock(mutex_);
    if (state_ != State::Decided) {
        return std::nullopt;
    }
    return decision_;
}

bool KeyDecision::abandon() {
    std::lock_guard lock(mutex_);
    if (state_ != State::Decided) {
        state_ = State::Abandoned;
    }
    return state_ == State::Abandoned;
}

} // namespace varnu::linux_backend
