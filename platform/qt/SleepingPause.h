#pragma once

// The DDC/CI pauses on a real thread: the calling thread sleeps.

#include "platform/Pause.h"

#include <chrono>
#include <thread>

namespace varnu::qt {

class SleepingPause final : public Pause {
public:
    void usleep(std::uint32_t microseconds) override {
        std::this_thread::sleep_for(std::chrono::microseconds(microseconds));
    }
};

} // namespace varnu::qt
