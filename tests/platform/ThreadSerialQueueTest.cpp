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

TEST(ThreadSerialQueue, SyncForGivesUpOnAStuckJobAndTheLateJobStillRunsSafely) {
    auto release = std::make_shared<std::promise<void>>();
    auto released = release->get_future().share();
    auto lateJobRan = std::make_shared<std::atomic<bool>>(false);
    {
        ThreadSerialQueue queue("ddc");
        queue.async([released] { released.wait(); });
        const bool finished =
            queue.syncFor(std::chrono::milliseconds(20), [lateJobRan] { *lateJobRan = true; });
        EXPECT_FALSE(finished);
        EXPECT_FALSE(*lateJobRan);
        release->set_value();
        // The destructor finishes what was submitted.
    }
    EXPECT_TRUE(*lateJobRan);

    ThreadSerialQueue queue("ddc");
    EXPECT_TRUE(queue.syncFor(std::chrono::milliseconds(2000), [] {}));
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
