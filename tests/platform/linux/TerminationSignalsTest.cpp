#include "platform/linux/TerminationSignals.h"

#include "platform/PumpedMainQueue.h"

#include <csignal>
#include <thread>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;

TEST(TerminationSignals, EachSignalRunsTheHandlerOnTheMainQueueAndDefaultsComeBack) {
    auto queue = std::make_shared<PumpedMainQueue>();
    std::vector<int> received;
    const auto mainThread = std::this_thread::get_id();
    const auto record = [&](int signalNumber) {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        received.push_back(signalNumber);
    };
    {
        TerminationSignals signals(queue, record);
        ASSERT_TRUE(signals.installed());
        EXPECT_FALSE(TerminationSignals(queue, [](int) {}).installed()) << "one at a time";
        std::raise(SIGTERM);
        std::raise(SIGINT);
        EXPECT_TRUE(received.empty()) << "nothing runs inside the handler";
        ASSERT_TRUE(queue->pumpUntil([&] { return received.size() == 2; }, 5s));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    }
    for (int signalNumber : {SIGTERM, SIGINT}) {
        struct sigaction current {};
        ::sigaction(signalNumber, nullptr, &current);
        EXPECT_EQ(current.sa_handler, SIG_DFL) << signalNumber;
    }
    // The place is free again, and the next watcher hears only its own signals.
    received.clear();
    TerminationSignals next(queue, record);
    ASSERT_TRUE(next.installed());
    std::raise(SIGINT);
    ASSERT_TRUE(queue->pumpUntil([&] { return !received.empty(); }, 5s));
    queue->pumpFor(50ms);
    EXPECT_EQ(received, std::vector<int>{SIGINT});
}

} // namespace
} // namespace varnu::linux_backend
