#pragma once

// The handoff of one volume-key press between the thread that reads the keyboards and the main
// thread that decides about it.
// Implements: a one-shot decision that the reader may give up on while the main thread has not
// begun deciding; once the main thread has begun, the reader waits for its answer, so that the
// core never acts on a key that was also passed on.
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
    // Reader thread. Gives up unless the main thread has begun; true when it gave up.
    bool abandon();

private:
    enum class State { Waiting, Deciding, Decided, Abandoned };

    mutable std::mutex mutex_;
    State state_ = State::Waiting;
    TapDecision decision_ = TapDecision::Pass;
};

} // namespace varnu::linux_backend
