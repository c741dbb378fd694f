#include "platform/linux/TerminationSignals.h"

#include "tests/platform/linux/PumpedMainQueue.h"

#include <csignal>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;

TEST(TerminationSignals, EachSignalRunsTheHandlerOnTheMainQueueAndDefaultsComeBack) {
    auto queue = std::make_shared<testing::PumpedMainQueue>();
    std::vector<int> received;
    bool offMainThread = false;
    const auto mainThread = std::this_thread::get_id();
    {
        TerminationSignals signals(queue, [&](int signalNumber) {
            received.push_back(signalNumber);
            offMainThread = offMainThread || std::this_thread::get_id() != mainThread;
        });
        ASSERT_TRUE(signals.installed());
        TerminationSignals second(queue, [](int) {});
        EXPECT_FALSE(second.installed()) << "one watcher at a time";

        std::raise(SIGTERM);
        std::raise(SIGINT);
        EXPECT_TRUE(received.empty()) << "nothing runs inside the handler";
        ASSERT_TRUE(queue->pumpUntil([&] { return received.size() == 2; }, 5s));
        EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
        EXPECT_FALSE(offMainThread);
    }
    struct sigaction current {};
    ::sigaction(SIGTERM, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);
    ::sigaction(SIGINT, nullptr, &current);
    EXPECT_EQ(current.sa_handler, SIG_DFL);

    // The place is free again, and the next watcher hears only its own signals.
    std::vector<int> later;
    TerminationSignals next(queue, [&](int signalNumber) { later.push_back(signalNumber); });
    ASSERT_TRUE(next.installed());
    std::raise(SIGINT);
    ASSERT_TRUE(queue->pumpUntil([&] { return !later.empty(); }, 5s));
    queue->pumpFor(50ms);
    EXPECT_EQ(later, std::vector<int>{SIGINT});
    EXPECT_EQ(received.size(), 2u);
}

} // namespace
} // namespace varnu::linux_backend
