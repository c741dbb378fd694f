#pragma once

// The DDC/CI pauses on a real thread: the calling thread sleeps. Every real backend uses it,
// beside ThreadSerialQueue.

#include "platform/Pause.h"

#include <chrono>
#include <thread>

namespace varnu {

class SleepingPause final : public Pause {
public:
    void usleep(std::uint32_t microseconds) override {
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    }
};

} // namespace varnu
