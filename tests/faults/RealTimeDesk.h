#pragma once

// The simulated computer of the core's tests, but in real time on real threads: a pumped main
// queue, a "ddc" queue on a thread of its own and pauses that sleep, as the application runs
// them. Tests put real backends in place of the simulated ones they need.

#include "app/AppDelegate.h"
#include "platform/PumpedMainQueue.h"
#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"
#include "tests/app/SimDesk.h"

#include <chrono>
#include <memory>

namespace varnu::testing {

constexpr auto kLongestKeyWait = std::chrono::milliseconds(250);
// The quit's wait for the "ddc" queue, and a little for the rest of the way out.
constexpr auto kQuitBound = std::chrono::milliseconds(2000 + 250);

struct RealTimeDesk : SimDesk {
    explicit RealTimeDesk(
        std::shared_ptr<PumpedMainQueue> queue = std::make_shared<PumpedMainQueue>())
        : SimDesk(sim::SimDispatch{
              queue,
              [](const std::string& label) { return std::make_shared<ThreadSerialQueue>(label); },
              std::make_shared<SleepingPause>()})
        , mainQueue(std::move(queue)) {}

    struct Press {
        std::optional<TapDecision> decision;
        std::chrono::steady_clock::duration took{};
    };
    // One press and release of a volume key, on the main thread, as the tap delivers it.
    Press press(std::int64_t keyCode) {
        const auto start = std::chrono::steady_clock::now();
        Press press{eventTaps->deliver(SimDesk::key(keyCode)), {}};
        eventTaps->deliver(SimDesk::key(keyCode, kKeyStateUp));
        press.took = std::chrono::steady_clock::now() - start;
        return press;
    }

    std::shared_ptr<PumpedMainQueue> mainQueue;
};

} // namespace varnu::testing
