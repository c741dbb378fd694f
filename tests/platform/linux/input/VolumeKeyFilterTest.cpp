#include "platform/linux/input/VolumeKeyFilter.h"

#include <map>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

const InputEvent kSync{EV_SYN, SYN_REPORT, 0};
const InputEvent kScan{EV_MSC, MSC_SCAN, 0x70080};

InputEvent key(std::uint16_t code, std::int32_t value) {
    return {EV_KEY, code, value};
}

struct RecordingSink final : KeyEventSink {
    std::map<InputDeviceId, std::vector<InputEvent>> emitted;
    void emit(InputDeviceId device, const InputEvent& event) override {
        emitted[device].push_back(event);
    }
};

// Stands in for the main thread: questions wait here until the test answers them.
struct RecordingChannel final : TapCallbackChannel {
    std::vector<std::pair<TappedEvent, std::shared_ptr<KeyDecision>>> asked;
    std::vector<milliseconds> within;
    std::vector<TappedEvent> told;

    std::shared_ptr<KeyDecision> ask(const TappedEvent& event, milliseconds time) override {
        within.push_back(time);
        return asked.emplace_back(event, std::make_shared<KeyDecision>()).second;
    }
    void tell(const TappedEvent& event) override { told.push_back(event); }
    // The main thread runs the callback; false when the reader gave the question up.
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

// The encoding itself is pinned by the round-trip table.
std::int64_t data1(std::uint16_t code, std::int32_t value) {
    return systemDefinedEvent(code, value, 0)->data1;
}

class VolumeKeyFilterTest : public ::testing::Test {
protected:
    void feed(InputDeviceId device, std::initializer_list<InputEvent> events,
              milliseconds at = milliseconds(0)) {
        for (const auto& event : events) {
            filter.handle(device, event, start + at);
        }
    }
    void answerAndSettle(std::size_t index, TapDecision decision, milliseconds at = {}) {
        ASSERT_TRUE(channel.answer(index, decision));
        filter.settle(start + at);
    }

    RecordingSink sink;
    RecordingChannel channel;
    VolumeKeyFilter filter{sink, channel, true};
    VolumeKeyFilter::Clock::time_point start = VolumeKeyFilter::Clock::now();
};

TEST_F(VolumeKeyFilterTest, APressWaitsForTheMainThreadWhoseAnswerHoldsForItsRepeatsAndRelease) {
    feed(1, {kScan, key(KEY_A, kKeyPressed), kSync});
    EXPECT_THAT(sink.emitted[1], ElementsAre(kScan, key(KEY_A, kKeyPressed), kSync));
    sink.emitted.clear();
    feed(1, {kScan, key(KEY_VOLUMEDOWN, kKeyPressed), kSync});
    EXPECT_THAT(sink.emitted[1], ElementsAre(kScan));
    ASSERT_EQ(channel.asked.size(), 1u);
    EXPECT_EQ(channel.asked[0].first.type, kCGEventSystemDefined);
    EXPECT_EQ(data1Of(channel.asked[0].first), data1(KEY_VOLUMEDOWN, kKeyPressed));
    EXPECT_TRUE(filter.isWaiting(1));

    answerAndSettle(0, TapDecision::Swallow);
    feed(1, {key(KEY_VOLUMEDOWN, kKeyRepeated), kSync, key(KEY_VOLUMEDOWN, kKeyReleased), kSync});
    EXPECT_THAT(sink.emitted[1], ElementsAre(kScan, kSync, kSync, kSync));
    // Each repeat steps the level in the core; the release completes the key there.
    ASSERT_EQ(channel.told.size(), 2u);
    EXPECT_EQ(data1Of(channel.told[0]), data1(KEY_VOLUMEDOWN, kKeyRepeated));
    EXPECT_EQ(data1Of(channel.told[1]), data1(KEY_VOLUMEDOWN, kKeyReleased));

    // A passed press passes its repeats and release without asking or telling.
    sink.emitted.clear();
    feed(1, {key(KEY_MUTE, kKeyPressed)});
    answerAndSettle(1, TapDecision::Pass);
    feed(1, {key(KEY_MUTE, kKeyRepeated), key(KEY_MUTE, kKeyReleased)});
    EXPECT_THAT(sink.emitted[1],
                ElementsAre(key(KEY_MUTE, kKeyPressed), key(KEY_MUTE, kKeyRepeated),
                            key(KEY_MUTE, kKeyReleased)));
    // A key held since before the grab has no press here: it passes.
    feed(2, {key(KEY_VOLUMEUP, kKeyRepeated), key(KEY_VOLUMEUP, kKeyReleased)});
    EXPECT_THAT(sink.emitted[2],
                ElementsAre(key(KEY_VOLUMEUP, kKeyRepeated), key(KEY_VOLUMEUP, kKeyReleased)));
    EXPECT_EQ(channel.asked.size(), 2u);
    EXPECT_EQ(channel.told.size(), 2u);
}

TEST_F(VolumeKeyFilterTest, EventsBehindAnUndecidedPressKeepTheirOrderWhileOtherDevicesFlow) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_A, kKeyPressed), kSync,
             key(KEY_VOLUMEUP, kKeyRepeated), kSync, key(KEY_VOLUMEUP, kKeyReleased), kSync,
             key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_B, kKeyPressed)});
    feed(2, {key(KEY_C, kKeyPressed), kSync});
    EXPECT_THAT(sink.emitted[1], IsEmpty());
    EXPECT_THAT(sink.emitted[2], ElementsAre(key(KEY_C, kKeyPressed), kSync));

    answerAndSettle(0, TapDecision::Pass, milliseconds(10));
    // Everything up to the second press went out, in order; the second press is a new question
    // and holds what came after it, but only for what is left of the first one's time.
    EXPECT_THAT(sink.emitted[1],
                ElementsAre(key(KEY_VOLUMEUP, kKeyPressed), kSync, key(KEY_A, kKeyPressed), kSync,
                            key(KEY_VOLUMEUP, kKeyRepeated), kSync, key(KEY_VOLUMEUP, kKeyReleased),
                            kSync));
    ASSERT_EQ(channel.asked.size(), 2u);
    EXPECT_TRUE(filter.isWaiting(1));
    EXPECT_THAT(channel.within, ElementsAre(milliseconds(250), milliseconds(240)));
    EXPECT_EQ(filter.nextDeadline(), start + milliseconds(250));
    answerAndSettle(1, TapDecision::Swallow, milliseconds(20));
    EXPECT_EQ(sink.emitted[1].back(), key(KEY_B, kKeyPressed));
    EXPECT_EQ(sink.emitted[1].size(), 10u);
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
    answerAndSettle(0, TapDecision::Swallow);
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
    EXPECT_THAT(sink.emitted[1], ElementsAre(key(KEY_VOLUMEUP, kKeyPressed), kSync,
                                             key(KEY_VOLUMEUP, kKeyReleased), kSync));
    ASSERT_EQ(channel.told.size(), 1u);
    EXPECT_EQ(channel.told[0].type, kCGEventTapDisabledByTimeout);
    EXPECT_FALSE(channel.told[0].event);
    // The main thread comes round too late: the callback must not act on a passed key.
    EXPECT_FALSE(channel.answer(0, TapDecision::Swallow));

    // The second device's press times out too, but the core hears of it once.
    filter.settle(start + milliseconds(350));
    EXPECT_THAT(sink.emitted[2], ElementsAre(key(KEY_MUTE, kKeyPressed)));
    EXPECT_EQ(channel.told.size(), 1u);

    // Until the core enables the tap again, presses pass without waiting.
    feed(1, {key(KEY_VOLUMEDOWN, kKeyPressed)}, milliseconds(400));
    EXPECT_EQ(sink.emitted[1].back(), key(KEY_VOLUMEDOWN, kKeyPressed));
    EXPECT_EQ(channel.asked.size(), 2u);
    filter.setEnabled(true);
    feed(1, {key(KEY_VOLUMEDOWN, kKeyReleased), key(KEY_VOLUMEDOWN, kKeyPressed)},
         milliseconds(500));
    EXPECT_EQ(channel.asked.size(), 3u);
    EXPECT_EQ(filter.nextDeadline(), start + milliseconds(750));

    // A main thread that answers near the bound time after time is as good as none.
    for (int slow = 0; slow < VolumeKeyFilter::kSlowAnswersInARow; ++slow) {
        const auto at = milliseconds(500 + 200 * slow);
        if (slow > 0) {
            feed(1, {key(KEY_VOLUMEDOWN, kKeyReleased), key(KEY_VOLUMEDOWN, kKeyPressed)}, at);
        }
        EXPECT_TRUE(filter.isEnabled());
        answerAndSettle(2 + slow, TapDecision::Swallow, at + VolumeKeyFilter::kSlowAnswer);
    }
    EXPECT_FALSE(filter.isEnabled());
    EXPECT_EQ(channel.told.back().type, kCGEventTapDisabledByTimeout);
}

TEST_F(VolumeKeyFilterTest, HeldVolumeKeysStepAtTheDeviceRateAndMuteNeverRepeats) {
    // Device 1 repeats in its kernel driver; device 2 does not.
    filter.repeatHeldKeys(2, RepeatRate{milliseconds(500), milliseconds(100)});
    feed(1, {key(KEY_MUTE, kKeyPressed)});
    answerAndSettle(0, TapDecision::Swallow);
    feed(1, {key(KEY_MUTE, kKeyRepeated), key(KEY_MUTE, kKeyRepeated)}, milliseconds(700));
    EXPECT_THAT(channel.told, IsEmpty());
    feed(1, {key(KEY_MUTE, kKeyReleased), key(KEY_VOLUMEUP, kKeyPressed)}, milliseconds(800));
    answerAndSettle(1, TapDecision::Swallow, milliseconds(800));
    feed(1, {key(KEY_VOLUMEUP, kKeyRepeated)}, milliseconds(1400));
    EXPECT_EQ(channel.told.size(), 2u); // the mute release and the kernel's repeat
    channel.told.clear();

    feed(2, {key(KEY_VOLUMEDOWN, kKeyPressed)}, milliseconds(2000));
    answerAndSettle(2, TapDecision::Swallow, milliseconds(2010));
    EXPECT_EQ(filter.nextDeadline(), start + milliseconds(2500));
    filter.settle(start + milliseconds(2499));
    EXPECT_THAT(channel.told, IsEmpty());
    for (int at = 2500; at <= 2800; at += 100) {
        filter.settle(start + milliseconds(at));
    }
    ASSERT_EQ(channel.told.size(), 4u);
    EXPECT_EQ(data1Of(channel.told[0]), data1(KEY_VOLUMEDOWN, kKeyRepeated));
    // A reader that wakes late steps once, not once for every period it missed.
    filter.settle(start + milliseconds(3500));
    EXPECT_EQ(channel.told.size(), 5u);
    feed(2, {key(KEY_VOLUMEDOWN, kKeyReleased)}, milliseconds(3550));
    filter.settle(start + milliseconds(5000));
    EXPECT_EQ(channel.told.size(), 6u);
    EXPECT_EQ(filter.nextDeadline(), std::nullopt);
    // A held mute mutes once; a passed key is repeated by the desktop, not here.
    feed(2, {key(KEY_MUTE, kKeyPressed), key(KEY_VOLUMEUP, kKeyPressed)}, milliseconds(6000));
    answerAndSettle(3, TapDecision::Swallow, milliseconds(6000));
    answerAndSettle(4, TapDecision::Pass, milliseconds(6000));
    filter.settle(start + milliseconds(7000));
    EXPECT_EQ(channel.told.size(), 6u);
}

TEST_F(VolumeKeyFilterTest, AVanishedDeviceOrFilterGivesUpItsWaitingEventsAndDecisions) {
    feed(1, {key(KEY_VOLUMEUP, kKeyPressed), key(KEY_LEFTSHIFT, kKeyPressed)});
    filter.removeDevice(1);
    EXPECT_FALSE(channel.answer(0, TapDecision::Swallow));
    EXPECT_FALSE(filter.isWaiting(1));
    EXPECT_EQ(filter.nextDeadline(), std::nullopt);

    // A swallowed key's memory goes with its device: a new device under the same number starts
    // clean.
    feed(2, {key(KEY_MUTE, kKeyPressed)});
    answerAndSettle(1, TapDecision::Swallow);
    filter.removeDevice(2);
    feed(2, {key(KEY_MUTE, kKeyReleased)});
    EXPECT_THAT(sink.emitted[2], ElementsAre(key(KEY_MUTE, kKeyReleased)));
    EXPECT_THAT(sink.emitted[1], IsEmpty());

    {
        VolumeKeyFilter ending(sink, channel, true);
        ending.handle(1, key(KEY_VOLUMEUP, kKeyPressed), start);
    }
    EXPECT_FALSE(channel.answer(2, TapDecision::Swallow));
}

TEST_F(VolumeKeyFilterTest, WithoutSystemDefinedEventsInTheMaskVolumeKeysPass) {
    VolumeKeyFilter unmasked(sink, channel, false);
    unmasked.handle(1, key(KEY_VOLUMEUP, kKeyPressed), start);
    unmasked.handle(1, key(KEY_VOLUMEUP, kKeyReleased), start);
    EXPECT_EQ(sink.emitted[1].size(), 2u);
    EXPECT_THAT(channel.asked, IsEmpty());
}

} // namespace
} // namespace varnu::linux_backend
