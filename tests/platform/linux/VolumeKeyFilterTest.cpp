#include "platform/linux/VolumeKeyFilter.h"

#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Clock = VolumeKeyFilter::Clock;

const InputEvent kSync{EV_SYN, SYN_REPORT, 0};
const InputEvent kScan{EV_MSC, MSC_SCAN, 0x70080};

InputEvent key(std::uint16_t code, std::int32_t value) {
    return {EV_KEY, code, value};
}

struct RecordingSink final : KeyEventSink {
    std::vector<std::pair<InputDeviceId, InputEvent>> emitted;
    void emit(InputDeviceId device, const InputEvent& event) override {
        emitted.emplace_back(device, event);
    }
};

// Stands in for the main thread: questions wait here until the test answers them.
struct RecordingChannel final : TapCallbackChannel {
    std::vector<std::pair<TappedEvent, std::shared_ptr<KeyDecision>>> asked;
    std::vector<TappedEvent> told;

    std::shared_ptr<KeyDecision> ask(const TappedEvent& event) override {
        asked.emplace_back(event, std::make_shared<KeyDecision>());
        return asked.back().second;
    }
    void tell(const TappedEvent& event) override { told.push_back(event); }

    // The main thread runs the callback for the oldest unanswered question.
    bool answer(std::size_t index, TapDecision decision) {
        if (!asked.at(index).second->begin()) {
            return false;
        }
        asked[index].second->finish(decision);
        return true;
    }
};

std::int64_t data1Of(const TappedEvent& event) {
    return event.event ? event.event->data1 : -1;
}

class VolumeKeyFilterTest : public ::testing::Test {
protected:
    RecordingSink sink;
    RecordingChannel channel;
    VolumeKeyFilter filter{sink, channel, true};
    Clock::time_point start = Clock::now();

    void feed(InputDeviceId device, std::initializer_list<InputEvent> events,
              milliseconds at = milliseconds(0)) {
        for (const auto& event : events) {
            filter.handle(device, event, start + at);
        }
    }
    std::vector<InputEvent> emittedBy(InputDeviceId device) const {
        std::vector<InputEvent> events;
        for (const auto& [from, event] : sink.emitted) {
            if (from == device) {
                events.push_back(event);
            }
        }
        return events;
    }
};

TEST_F(VolumeKeyFilterTest, OtherEventsPassAtOnceAndAPressWaitsForTheMainThread) {
    feed(1, {kScan, key(KEY_A, kKeyPressed), kSync, key(KEY_A, kKeyReleased), kSync});
    EXPECT_THAT(emittedBy(1), ElementsAre(kScan, key(KEY_A, kKeyPressed), kSync,
                                          key(KEY_A, kKeyReleased), kSync));
    EXPECT_THAT(channel.asked, IsEmpty());

    sink.emitted.clear();
    feed(1, {kScan, key(KEY_VOLUMEUP, kKeyPressed), kSync});
    EXPECT_THAT(emittedBy(1), ElementsAre(kScan));
    ASSERT_EQ(channel.asked.size(), 1u);
    EXPECT_EQ(channel.asked[0].first.type, kCGEventSystemDefined);
    EXPECT_EQ(data1Of(channel.asked[0].first), 0x000A00);
    EXPECT_TRUE(filter.isWaiting(1));
}

TEST_F(VolumeKeyFilterTest, ASwallowedPressSwallowsItsRepeatsAndReleaseWhichTheCoreStillSees) {
    feed(1, {key(KEY_VOLUMEDOWN, kKeyPressed), kSync});
    channel.answer(0, TapDecision::Swallow);
    filter.settle(start);
    feed(1, {key(KEY_VOLUMEDOWN, kKeyRepeated), kSync, key(KEY_VOLUMEDOWN, kKeyRepeated), kSync,
             key(KEY_VOLUMEDOWN, kKeyReleased), kSync});
    EXPECT_THAT(emittedBy(1), ElementsAre(kSync, kSync, kSync, kSync));
    // Each repeat steps the level in the core; the release completes the key there.
    ASSERT_EQ(channel.told.size(), 3u);
    EXPECT_EQ(data1Of(channel.told[0]), 0x010A01);
    EXPECT_EQ(data1Of(channel.told[1]), 0x010A01);
    EXPECT_EQ(data1Of(channel.told[2]), 0x010B00);
    EXPECT_EQ(channel.asked.size(), 1u);

    // The next press is a new question.
    feed(1, {key(KEY_VOLUMEDOWN, kKeyPressed)});
    EXPECT_EQ(channel.asked.size(), 2u);
}

TEST_F(VolumeKeyFilterTest, APassedPressPassesItsRepeatsAndReleaseWithoutAsking) {
    feed(1, {key(KEY_MUTE, kKeyPressed), kSync});
    channel.answer(0, TapDecision::Pass);
    filter.settle(start);
    feed(1, {key(KEY_MUTE, kKeyRepeated), kSync, key(KEY_MUTE, kKeyReleased), kSync});
    EXPECT_THAT(emittedBy(1),
                ElementsAre(key(KEY_MUTE, kKeyPressed), kSync, key(KEY_MUTE, kKeyRepeated), kSync,
                            key(KEY_MUTE, kKeyReleased), kSync));
    EXPECT_THAT(channel.told, IsEmpty());

    // A key held since before the grab has no press here: it passes.
    sink.emitted.clear();
    feed(2, {key(KEY_VOLUMEUP, kKeyRepeated), key(KEY_VOLUMEUP, kKeyReleased)});
    EXPECT_THAT(emittedBy(2),
                ElementsAre(key(KEY_VOLUMEUP, kKeyRepeated), key(KEY_VOLUMEUP, kKeyReleased)));
    EXPECT_EQ(channel.asked.size(), 1u);
}

TEST_F(VolumeKeyFilterTest, EventsBehindAnUndecidedPressKeepTheirOrderWhileOtherDevicesFlow) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_A, kKeyPressed), kSync,
             key(KEY_VOLUMEUP, kKeyRepeated), kSync, key(KEY_VOLUMEUP, kKeyReleased), kSync,
             key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_B, kKeyPressed)});
    feed(2, {key(KEY_C, kKeyPressed), kSync});
    EXPECT_THAT(emittedBy(1), IsEmpty());
    EXPECT_THAT(emittedBy(2), ElementsAre(key(KEY_C, kKeyPressed), kSync));

    channel.answer(0, TapDecision::Pass);
    filter.settle(start + milliseconds(10));
    // Everything up to the second press went out, in order; the second press is a new question
    // and holds what came after it.
    EXPECT_THAT(emittedBy(1),
                ElementsAre(key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_A, kKeyPressed), kSync,
                            key(KEY_VOLUMEUP, kKeyRepeated), kSync, key(KEY_VOLUMEUP, kKeyReleased),
                            kSync));
    ASSERT_EQ(channel.asked.size(), 2u);
    EXPECT_TRUE(filter.isWaiting(1));

    channel.answer(1, TapDecision::Swallow);
    filter.settle(start + milliseconds(20));
    EXPECT_THAT(emittedBy(1).back(), key(KEY_B, kKeyPressed));
    EXPECT_EQ(emittedBy(1).size(), 10u);
    EXPECT_FALSE(filter.isWaiting(1));
}

TEST_F(VolumeKeyFilterTest, ModifiersOfEveryKeyboardReachTheEventInTheirOrder) {
    filter.observe(7, key(KEY_LEFTSHIFT, kKeyPressed)); // a keyboard that is only read
    feed(1, {key(KEY_LEFTALT, kKeyPressed), key(KEY_VOLUMEUP, kKeyPressed),
             key(KEY_LEFTALT, kKeyReleased), key(KEY_VOLUMEUP, kKeyReleased),
             key(KEY_VOLUMEUP, kKeyPressed)});
    ASSERT_EQ(channel.asked.size(), 1u);
    EXPECT_EQ(channel.asked[0].first.event->modifierFlags,
              kShiftModifierFlag | kAlternateModifierFlag);
    channel.answer(0, TapDecision::Swallow);
    filter.settle(start);
    // The Alt release queued behind the first press counts before the second press.
    ASSERT_EQ(channel.asked.size(), 2u);
    EXPECT_EQ(channel.asked[1].first.event->modifierFlags, kShiftModifierFlag);
    EXPECT_EQ(channel.told.at(0).event->modifierFlags, kShiftModifierFlag);

    filter.removeDevice(7);
    feed(2, {key(KEY_MUTE, kKeyPressed)});
    EXPECT_EQ(channel.asked.back().first.event->modifierFlags, 0u);
}

TEST_F(VolumeKeyFilterTest, APressUndecidedAfter250msPassesAndTheCoreHearsOfTheTimeout) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_VOLUMEUP, kKeyReleased), kSync});
    feed(2, {key(KEY_MUTE, kKeyPressed)}, milliseconds(100));
    EXPECT_EQ(filter.nextDeadline(), start + milliseconds(250));

    filter.settle(start + milliseconds(249));
    EXPECT_THAT(sink.emitted, IsEmpty());
    filter.settle(start + milliseconds(250));
    EXPECT_THAT(emittedBy(1), ElementsAre(key(KEY_VOLUMEUP, kKeyPressed), kSync,
                                          key(KEY_VOLUMEUP, kKeyReleased), kSync));
    ASSERT_EQ(channel.told.size(), 1u);
    EXPECT_EQ(channel.told[0].type, kCGEventTapDisabledByTimeout);
    EXPECT_FALSE(channel.told[0].event);
    // The main thread comes round too late: the callback must not act on a passed key.
    EXPECT_FALSE(channel.answer(0, TapDecision::Swallow));

    // The second device's press times out too, but the core hears of it once.
    filter.settle(start + milliseconds(350));
    EXPECT_THAT(emittedBy(2), ElementsAre(key(KEY_MUTE, kKeyPressed)));
    EXPECT_EQ(channel.told.size(), 1u);

    // Until the core enables the tap again, presses pass without waiting.
    feed(1, {key(KEY_VOLUMEDOWN, kKeyPressed)}, milliseconds(400));
    EXPECT_EQ(emittedBy(1).back(), key(KEY_VOLUMEDOWN, kKeyPressed));
    EXPECT_EQ(channel.asked.size(), 2u);
    filter.setEnabled(true);
    feed(1, {key(KEY_VOLUMEDOWN, kKeyReleased), key(KEY_VOLUMEDOWN, kKeyPressed)},
         milliseconds(500));
    EXPECT_EQ(channel.asked.size(), 3u);
    EXPECT_EQ(filter.nextDeadline(), start + milliseconds(750));
}

TEST_F(VolumeKeyFilterTest, ADecisionBegunBeforeTheDeadlineIsAwaited) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), kSync});
    ASSERT_TRUE(channel.asked[0].second->begin());
    filter.settle(start + milliseconds(300));
    EXPECT_THAT(sink.emitted, IsEmpty());
    EXPECT_EQ(filter.nextDeadline(), std::nullopt);
    channel.asked[0].second->finish(TapDecision::Swallow);
    filter.settle(start + milliseconds(310));
    EXPECT_THAT(emittedBy(1), ElementsAre(kSync));
    EXPECT_THAT(channel.told, IsEmpty());
    EXPECT_TRUE(filter.isEnabled());
}

TEST_F(VolumeKeyFilterTest, AVanishedDeviceTakesItsWaitingEventsAndDecisionsAlong) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), key(KEY_LEFTSHIFT, kKeyPressed)});
    filter.removeDevice(1);
    EXPECT_FALSE(channel.answer(0, TapDecision::Swallow));
    EXPECT_FALSE(filter.isWaiting(1));
    EXPECT_EQ(filter.nextDeadline(), std::nullopt);

    // A swallowed key's memory goes with its device: a new device under the same number starts
    // clean.
    feed(2, {key(KEY_MUTE, kKeyPressed)});
    channel.answer(1, TapDecision::Swallow);
    filter.settle(start);
    filter.removeDevice(2);
    feed(2, {key(KEY_MUTE, kKeyReleased)});
    EXPECT_THAT(emittedBy(2), ElementsAre(key(KEY_MUTE, kKeyReleased)));
    EXPECT_THAT(emittedBy(1), IsEmpty());
}

TEST(VolumeKeyFilter, WithoutSystemDefinedEventsInTheMaskVolumeKeysPass) {
    RecordingSink sink;
    RecordingChannel channel;
    VolumeKeyFilter filter(sink, channel, false);
    filter.handle(1, key(KEY_VOLUMEUP, kKeyPressed), Clock::now());
    filter.handle(1, key(KEY_VOLUMEUP, kKeyReleased), Clock::now());
    EXPECT_EQ(sink.emitted.size(), 2u);
    EXPECT_THAT(channel.asked, IsEmpty());
}

TEST(VolumeKeyFilter, GivesUpItsQuestionsWhenItEnds) {
    RecordingSink sink;
    RecordingChannel channel;
    {
        VolumeKeyFilter filter(sink, channel, true);
        filter.handle(1, key(KEY_VOLUMEUP, kKeyPressed), Clock::now());
    }
    EXPECT_FALSE(channel.answer(0, TapDecision::Swallow));
}

} // namespace
} // namespace varnu::linux_backend
