#include "platform/ThreadSerialQueue.h"

#include <atomic>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

TEST(ThreadSerialQueue, RunsJobsOneAtATimeInSubmissionOrderOffTheCallingThread) {
    ThreadSerialQueue queue("ddc");
    std::vector<int> order; // only touched on the queue's thread, then read after sync
    std::atomic<int> running{0};
    std::atomic<bool> overlapped{false};
    const auto caller = std::this_thread::get_id();
    std::atomic<bool> ranOnCaller{false};
    for (int i = 0; i < 50; ++i) {
        queue.async([&, i] {
            if (running.fetch_add(1) != 0) {
                overlapped = true;
            }
            if (std::this_thread::get_id() == caller) {
                ranOnCaller = true;
            }
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    bool syncRan = false;
    queue.sync([&] { syncRan = true; });
    EXPECT_TRUE(syncRan);
    ASSERT_EQ(order.size(), 50u);
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(order[i], i);
    }
    EXPECT_FALSE(overlapped);
    EXPECT_FALSE(ranOnCaller);
    EXPECT_EQ(queue.label(), "ddc");
}

TEST(ThreadSerialQueue, GivingUpOnAStuckJobLetsTheQueueGoWithoutWaitingForIt) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto lateJob = std::make_shared<std::promise<void>>();
    auto lateJobRan = lateJob->get_future();
    {
        ThreadSerialQueue queue("ddc");
        queue.async([released] { released.wait(); });
        const bool finished =
            queue.syncFor(std::chrono::milliseconds(20), [lateJob] { lateJob->set_value(); });
        EXPECT_FALSE(finished);
        // Leaving the scope must not wait for the stuck job.
    }
    EXPECT_EQ(lateJobRan.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);
    release->set_value();
    EXPECT_EQ(lateJobRan.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the job given up on still runs once the queue is free";
}

TEST(ThreadSerialQueue, DestructionFinishesTheJobsAlreadySubmitted) {
    std::vector<int> order;
    {
        ThreadSerialQueue queue("ddc");
        for (int i = 0; i < 5; ++i) {
            queue.async([&order, i] {
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
                order.push_back(i);
            });
        }
        EXPECT_TRUE(queue.syncFor(std::chrono::milliseconds(2000), [] {}));
        queue.async([&order] { order.push_back(5); });
    }
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(ThreadSerialQueue, SyncFromTheQueueItselfDoesNotDeadlock) {
    ThreadSerialQueue queue("ddc");
    std::promise<bool> result;
    queue.async([&] {
        bool inner = false;
        queue.sync([&] { inner = true; });
        result.set_value(inner && queue.isCurrent());
    });
    EXPECT_TRUE(result.get_future().get());
}

} // namespace
} // namespace varnu
