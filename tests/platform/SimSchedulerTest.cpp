#include "platform/sim/SimScheduler.h"

#include "platform/sim/SimPause.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

using std::chrono::milliseconds;

TEST(SimScheduler, DelayedAndRepeatingWorkRunsAtItsVirtualTimeAndCancels) {
    auto scheduler = SimScheduler::create();
    std::vector<std::string> log;
    auto stamp = [&](const std::string& what) {
        log.push_back(std::to_string(scheduler->nowMilliseconds()) + " " + what);
    };
    scheduler->async([&] { stamp("now"); });
    auto late = scheduler->asyncAfter(milliseconds(1400), [&] { stamp("hide"); });
    auto timer = scheduler->scheduleRepeatingTimer(milliseconds(2000), [&] { stamp("tick"); });
    auto cancelled = scheduler->asyncAfter(milliseconds(100), [&] { stamp("never"); });
    cancelled->cancel();

    scheduler->runUntilIdle();
    EXPECT_EQ(log, std::vector<std::string>{"0 now"});
    scheduler->advance(milliseconds(4500));
    EXPECT_EQ(log, (std::vector<std::string>{"0 now", "1400 hide", "2000 tick", "4000 tick"}));
    timer->cancel();
    scheduler->advance(milliseconds(5000));
    EXPECT_EQ(log.size(), 4u);
    EXPECT_FALSE(scheduler->hasPendingWork());
    EXPECT_EQ(scheduler->nowMilliseconds(), 9500);
}

TEST(SimScheduler, SerialJobsQueueBehindEachOtherAndPostBackAtTheirOwnTime) {
    auto scheduler = SimScheduler::create();
    auto queue = scheduler->makeSerialQueue("ddc");
    SimPause pause(scheduler);
    std::vector<std::string> log;
    auto stamp = [&](const std::string& what) {
        log.push_back(std::to_string(scheduler->nowMilliseconds()) + " " + what);
    };
    for (int job = 1; job <= 2; ++job) {
        queue->async([&, job] {
            stamp("start " + std::to_string(job));
            pause.usleep(20'000);
            scheduler->async([&, job] { stamp("result " + std::to_string(job)); });
        });
    }
    // Main-queue work due while the first job is still "running" runs at its own time.
    scheduler->asyncAfter(milliseconds(5), [&] { stamp("main"); });
    scheduler->advance(milliseconds(100));
    EXPECT_EQ(log, (std::vector<std::string>{"0 start 1", "5 main", "20 result 1", "20 start 2",
                                             "40 result 2"}));
}

TEST(SimScheduler, SyncWaitsForEarlierJobsAndMovesTheCallerOnOrTimesOut) {
    auto scheduler = SimScheduler::create();
    auto queue = scheduler->makeSerialQueue("ddc");
    SimPause pause(scheduler);
    std::vector<int> order;
    queue->async([&] {
        pause.usleep(30'000);
        order.push_back(1);
    });
    queue->sync([&] {
        pause.usleep(20'000);
        order.push_back(2);
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_EQ(scheduler->nowMilliseconds(), 50);

    EXPECT_FALSE(queue->syncFor(milliseconds(2000), [&] { pause.usleep(5'000'000); }));
    EXPECT_EQ(scheduler->nowMilliseconds(), 2050);
}

} // namespace
} // namespace varnu::sim
