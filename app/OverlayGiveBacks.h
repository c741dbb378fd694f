#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

namespace varnu {

// How the give-backs of monitors' own overlays went, between the "ddc" queue, which carries them
// out, and the main thread, which keeps the record of hidden overlays: a monitor leaves the
// record only once it has taken its give-back. Quitting reads it right after waiting for the
// queue, before the main queue could run anything posted to it, so the queue does not post the
// outcomes themselves. A lock guards it, held only to add or to take.
class OverlayGiveBacks {
public:
    struct Outcome {
        std::uint64_t ticket = 0;
        bool taken = false;
    };

    void add(Outcome outcome);
    // Everything added since the last take, in order.
    std::vector<Outcome> take();

private:
    std::mutex mutex_;
    std::vector<Outcome> outcomes_;
};

} // namespace varnu
