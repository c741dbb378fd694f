#include "platform/ThreadSerialQueue.h"

#include <atomic>
#include <future>
#include <numeric>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;

TEST(ThreadSerialQueue, RunsJobsOneAtATimeInOrderOffTheCallerAndFinishesThemWhenDestroyed) {
    std::vector<int> order; // written on the queue's thread only
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    std::atomic<bool> ranOnCaller{false};
    const auto caller = std::this_thread::get_id();
    const auto job = [&](int index) {
        return [&, index] {
            overlapped = overlapped || running.fetch_add(1) != 0;
            ranOnCaller = ranOnCaller || std::this_thread::get_id() == caller;
            std::this_thread::sleep_for(1ms);
            order.push_back(index);
            running.fetch_sub(1);
        };
    };
    {
        ThreadSerialQueue queue("ddc");
        for (int index = 0; index < 20; ++index) {
            queue.async(job(index));
        }
        // A sync from the queue's own thread must not wait for itself, and a wait that ends in
        // time does not count as giving up on the queue.
        bool nested = false;
        EXPECT_TRUE(queue.syncFor(5s, [&] { queue.sync([&] { nested = queue.isCurrent(); }); }));
        EXPECT_TRUE(nested);
        EXPECT_EQ(order.size(), 20u);
        for (int index = 20; index < 40; ++index) {
            queue.async(job(index));
        }
    }
    std::vector<int> expected(40);
    std::iota(expected.begin(), expected.end(), 0);
    EXPECT_EQ(order, expected);
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(ranOnCaller);
}

TEST(ThreadSerialQueue, GivingUpOnAStuckJobLetsTheQueueGoWithoutWaitingForIt) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto lateJob = std::make_shared<std::promise<void>>();
    auto lateJobRan = lateJob->get_future();
    {
        ThreadSerialQueue queue("ddc");
        queue.async([released] { released.wait(); });
        EXPECT_FALSE(queue.syncFor(20ms, [lateJob] { lateJob->set_value(); }));
        // Leaving the scope must not wait for the stuck job.
    }
    EXPECT_EQ(lateJobRan.wait_for(0ms), std::future_status::timeout);
    release->set_value();
    EXPECT_EQ(lateJobRan.wait_for(5s), std::future_status::ready)
        << "the job given up on still runs once the queue is free";
}

} // namespace
} // namespace varnu
