#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "tests/faults/RealTimeDesk.h"

#include <chrono>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;
using testing::SimDesk;

// A held key repeats about thirty times a second.
constexpr auto kRepeatInterval = 33ms;

struct HeldKey {
    int presses = 0;
    int swallowed = 0;
    sim::VirtualTime longestWait{};
};

// Holds the key for the duration, one key-down per repeat, then lets it go; midway, if given,
// something happens to the world.
HeldKey hold(SimDesk& desk, std::int64_t keyCode, std::chrono::milliseconds duration,
             const std::function<void()>& midway = {}) {
    HeldKey held;
    const auto repeats = duration / kRepeatInterval;
    for (int repeat = 0; repeat < repeats; ++repeat) {
        if (midway && repeat == repeats / 2) {
            midway();
        }
        const auto before = desk.scheduler->now();
        const auto decision = desk.eventTaps->deliver(SimDesk::key(keyCode));
        held.longestWait = std::max(held.longestWait, desk.scheduler->now() - before);
        ++held.presses;
        held.swallowed += decision == TapDecision::Swallow ? 1 : 0;
        desk.scheduler->advance(kRepeatInterval);
    }
    desk.eventTaps->deliver(SimDesk::key(keyCode, kKeyStateUp));
    return held;
}

TEST(MonitorFault, AMonitorThatStopsAnsweringMidHoldNeverHoldsTheKeyboardOrTheQuit) {
    SimDesk desk;
    const auto monitor = desk.addRememberedDell();
    monitor->setControl(kVCPAudioSpeakerVolume, {20, 100});
    desk.defaults->put("step", std::int64_t{1});
    auto delegate = desk.launch();
    ASSERT_TRUE(delegate->tap);
    desk.scheduler->advance(1s);
    const auto startLevel = delegate->volume;

    const auto silence = [&] {
        monitor->refuseWrites(sim::SimMonitor::kAlways);
        monitor->refuseReads(sim::SimMonitor::kAlways);
    };
    auto held = hold(desk, kKeyTypeSoundUp, 2s, silence);
    EXPECT_EQ(held.swallowed, held.presses) << "each key is decided where it is pressed";
    EXPECT_LE(held.longestWait, testing::kLongestKeyWait);
    EXPECT_EQ(delegate->volume, startLevel + held.presses);
    EXPECT_TRUE(desk.eventTaps->tap()->isEnabled());

    // Silent for a while after the key is let go, then back.
    desk.scheduler->advance(3s);
    monitor->behave();
    desk.scheduler->advance(10s);
    EXPECT_EQ(delegate->volume, startLevel + held.presses) << "nothing undid the keys";

    // The next key brings the monitor to the level Varnu shows.
    desk.eventTaps->deliver(SimDesk::key(kKeyTypeSoundUp));
    desk.eventTaps->deliver(SimDesk::key(kKeyTypeSoundUp, kKeyStateUp));
    desk.scheduler->advance(10s);
    ASSERT_TRUE(monitor->control(kVCPAudioSpeakerVolume));
    EXPECT_EQ(monitor->control(kVCPAudioSpeakerVolume)->current, delegate->volume);
}

} // namespace
} // namespace varnu
