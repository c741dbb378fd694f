// The pumped main queue: jobs, timers and watched descriptors all run on the pumping thread,
// and a watch ends with its cancellation.

#include "platform/PumpedMainQueue.h"

#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;
using ::testing::ElementsAre;

TEST(PumpedMainQueue, RunsJobsTimersAndReadableDescriptorsOnThePumpingThreadUntilCancelled) {
    PumpedMainQueue queue;
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    std::vector<std::string> ran; // the pumping thread's alone
    auto watch = queue.whenReadable(ends[0], [&] {
        char byte = 0;
        while (::read(ends[0], &byte, 1) == 1) {
            ran.push_back(std::string("read ") + byte);
        }
    });
    ASSERT_TRUE(watch);
    std::thread other([&] {
        std::this_thread::sleep_for(10ms);
        ASSERT_EQ(::write(ends[1], "a", 1), 1);
        std::this_thread::sleep_for(10ms);
        queue.async([&] { ran.push_back("job"); });
    });
    EXPECT_TRUE(queue.pumpUntil([&] { return ran.size() == 2; }, 5s));
    other.join();
    // A timer wakes a pump that nothing else wakes.
    queue.asyncAfter(20ms, [&] { ran.push_back("timer"); });
    EXPECT_TRUE(queue.pumpUntil([&] { return ran.size() == 3; }, 5s));
    EXPECT_THAT(ran, ElementsAre("read a", "job", "timer"));

    watch->cancel();
    ASSERT_EQ(::write(ends[1], "b", 1), 1);
    queue.pumpFor(20ms);
    EXPECT_EQ(ran.size(), 3u);
    ::close(ends[0]);
    ::close(ends[1]);
}

} // namespace
} // namespace varnu
