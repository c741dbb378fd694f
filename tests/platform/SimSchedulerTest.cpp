#include "platform/sim/SimScheduler.h"

#include "platform/sim/SimPause.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

using std::chrono::milliseconds;
using Log = std::vector<std::string>;

// What ran, stamped with the virtual time it ran at.
struct Clocked {
    std::shared_ptr<SimScheduler> scheduler = SimScheduler::create();
    Log log;
    Job stamp(const std::string& what) {
        return [this, what] {
            log.push_back(std::to_string(scheduler->nowMilliseconds()) + " " + what);
        };
    }
};

TEST(SimScheduler, DelayedAndRepeatingWorkRunsAtItsVirtualTimeAndCancels) {
    Clocked clock;
    auto& scheduler = *clock.scheduler;
    scheduler.async(clock.stamp("now"));
    auto late = scheduler.asyncAfter(milliseconds(1400), clock.stamp("hide"));
    auto timer = scheduler.scheduleRepeatingTimer(milliseconds(2000), clock.stamp("tick"));
    scheduler.asyncAfter(milliseconds(100), clock.stamp("never"))->cancel();

    scheduler.runUntilIdle();
    EXPECT_EQ(clock.log, Log{"0 now"});
    scheduler.advance(milliseconds(4500));
    EXPECT_EQ(clock.log, (Log{"0 now", "1400 hide", "2000 tick", "4000 tick"}));
    timer->cancel();
    scheduler.advance(milliseconds(5000));
    EXPECT_EQ(clock.log.size(), 4u);
    EXPECT_FALSE(scheduler.hasPendingWork());
    EXPECT_EQ(scheduler.nowMilliseconds(), 9500);
}

TEST(SimScheduler, SerialJobsTakeTheirPausesAndPostBackAtTheirOwnTime) {
    Clocked clock;
    auto& scheduler = *clock.scheduler;
    auto queue = scheduler.makeSerialQueue("ddc");
    SimPause pause(clock.scheduler);
    for (const std::string job : {"1", "2"}) {
        queue->async([&, job] {
            clock.stamp("start " + job)();
            pause.usleep(20'000);
            scheduler.async(clock.stamp("result " + job));
        });
    }
    // Main-queue work due while the first job is still "running" runs at its own time.
    scheduler.asyncAfter(milliseconds(5), clock.stamp("main"));
    scheduler.advance(milliseconds(100));
    EXPECT_EQ(clock.log, (Log{"0 start 1", "5 main", "20 result 1", "20 start 2", "40 result 2"}));

    // A sync waits for the jobs before it and moves the caller on, or gives up in time.
    clock.log.clear();
    queue->async([&] {
        pause.usleep(30'000);
        clock.stamp("async")();
    });
    queue->sync([&] {
        pause.usleep(20'000);
        clock.stamp("sync")();
    });
    EXPECT_EQ(clock.log, (Log{"130 async", "150 sync"}));
    EXPECT_FALSE(queue->syncFor(milliseconds(2000), [&] { pause.usleep(5'000'000); }));
    EXPECT_EQ(scheduler.nowMilliseconds(), 2150);
}

} // namespace
} // namespace varnu::sim
