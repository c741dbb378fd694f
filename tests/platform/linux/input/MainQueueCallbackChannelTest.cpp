#include "platform/linux/input/MainQueueCallbackChannel.h"

#include "platform/sim/SimScheduler.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

const TappedEvent kPress{kCGEventSystemDefined,
                         SystemDefinedEvent{kCGEventSystemDefined, 8, 0x000A00, 0}};

TEST(MainQueueCallbackChannel, DecidesOnTheMainQueueUnlessTheReaderGaveUpOrTheChannelClosed) {
    auto main = sim::SimScheduler::create();
    std::vector<TappedEvent> seen;
    int wakes = 0;
    auto channel = std::make_unique<MainQueueCallbackChannel>(
        main,
        [&](const TappedEvent& event) {
            seen.push_back(event);
            return TapDecision::Swallow;
        },
        [&] { ++wakes; });

    auto decision = channel->ask(kPress, std::chrono::milliseconds(250));
    EXPECT_TRUE(seen.empty());
    EXPECT_EQ(decision->result(), std::nullopt);
    main->runUntilIdle();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].event, kPress.event);
    EXPECT_EQ(decision->result(), TapDecision::Swallow);
    EXPECT_EQ(wakes, 1);
    // A notice runs the callback too, but nobody waits for it.
    channel->tell({kCGEventTapDisabledByTimeout, std::nullopt});
    main->runUntilIdle();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1].type, kCGEventTapDisabledByTimeout);
    EXPECT_EQ(wakes, 1);

    auto abandoned = channel->ask(kPress, std::chrono::milliseconds(250));
    EXPECT_TRUE(abandoned->abandon());
    main->runUntilIdle();
    EXPECT_EQ(abandoned->result(), std::nullopt);
    auto late = channel->ask(kPress, std::chrono::milliseconds(250));
    channel->tell(kPress);
    channel.reset();
    main->runUntilIdle();
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(wakes, 1);
}

} // namespace
} // namespace varnu::linux_backend
