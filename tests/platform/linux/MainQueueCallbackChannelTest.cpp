#include "platform/linux/MainQueueCallbackChannel.h"

#include "platform/sim/SimScheduler.h"

#include <vector>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

struct Recorder {
    std::vector<TappedEvent> seen;
    int wakes = 0;
    TapDecision answer = TapDecision::Swallow;
};

const TappedEvent kPress{kCGEventSystemDefined,
                         SystemDefinedEvent{kCGEventSystemDefined, 8, 0x000A00, 0}};

std::unique_ptr<MainQueueCallbackChannel> makeChannel(std::shared_ptr<sim::SimScheduler> main,
                                                      Recorder& recorder) {
    return std::make_unique<MainQueueCallbackChannel>(
        main,
        [&recorder](const TappedEvent& event) {
            recorder.seen.push_back(event);
            return recorder.answer;
        },
        [&recorder] { ++recorder.wakes; });
}

TEST(MainQueueCallbackChannel, DecidesOnTheMainQueueAndWakesTheReader) {
    auto main = sim::SimScheduler::create();
    Recorder recorder;
    auto channel = makeChannel(main, recorder);

    auto decision = channel->ask(kPress);
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_EQ(decision->result(), std::nullopt);
    main->runUntilIdle();
    ASSERT_EQ(recorder.seen.size(), 1u);
    EXPECT_EQ(recorder.seen[0].event, kPress.event);
    EXPECT_EQ(decision->result(), TapDecision::Swallow);
    EXPECT_EQ(recorder.wakes, 1);

    // A notice runs the callback too, but nobody waits for it.
    channel->tell({kCGEventTapDisabledByTimeout, std::nullopt});
    main->runUntilIdle();
    ASSERT_EQ(recorder.seen.size(), 2u);
    EXPECT_EQ(recorder.seen[1].type, kCGEventTapDisabledByTimeout);
    EXPECT_EQ(recorder.wakes, 1);
}

TEST(MainQueueCallbackChannel, NeverRunsTheCallbackForAPressTheReaderGaveUpOrAfterClosing) {
    auto main = sim::SimScheduler::create();
    Recorder recorder;
    auto channel = makeChannel(main, recorder);

    auto decision = channel->ask(kPress);
    EXPECT_TRUE(decision->abandon());
    main->runUntilIdle();
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_EQ(decision->result(), std::nullopt);

    auto late = channel->ask(kPress);
    channel->tell(kPress);
    channel.reset();
    main->runUntilIdle();
    EXPECT_TRUE(recorder.seen.empty());
    EXPECT_EQ(recorder.wakes, 0);
}

} // namespace
} // namespace varnu::linux_backend
