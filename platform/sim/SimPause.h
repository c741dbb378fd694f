#pragma once

#include "platform/Pause.h"
#include "platform/sim/SimScheduler.h"

#include <memory>
#include <vector>

namespace varnu::sim {

// Pauses that move virtual time on instead of blocking.
class SimPause final : public Pause {
public:
    explicit SimPause(std::shared_ptr<SimScheduler> scheduler)
        : scheduler_(std::move(scheduler)) {}

    void usleep(std::uint32_t microseconds) override {
        pauses_.push_back(microseconds);
        scheduler_->sleep(VirtualTime(microseconds));
    }

    // Every pause taken, in order.
    const std::vector<std::uint32_t>& pauses() const { return pauses_; }

private:
    std::shared_ptr<SimScheduler> scheduler_;
    std::vector<std::uint32_t> pauses_;
};

} // namespace varnu::sim
