#pragma once

// The handoff of one volume-key press between the thread that reads the keyboards and the main
// thread that decides about it.
// Implements: a one-shot decision that the reader may give up on until the main thread has
// finished deciding. A keyboard never waits on a stuck main thread: an answer that comes after
// the reader gave up is ignored (the key was passed on and the core hears of the timeout).
// Does not implement: waking the reader (the caller does that after finish()).

#include "platform/EventTap.h"

#include <mutex>
#include <optional>

namespace varnu::linux_backend {

class KeyDecision {
public:
    // Main thread, before calling the tap callback. False when the reader has given up: the
    // callback must not see the press.
    bool begin();
    // Main thread, with the callback's answer.
    void finish(TapDecision decision);

    // Reader thread. The answer once the main thread has finished.
    std::optional<TapDecision> result() const;
    // Reader thread. Gives up unless the main thread has finished; true when it gave up.
    bool abandon();

private:
    enum class State { Waiting, Deciding, Decided, Abandoned };

    mutable std::mutex mutex_;
    State state_ = State::Waiting;
    TapDecision decision_ = TapDecision::Pass;
};

} // namespace varnu::linux_backend
