// Presses merged into a monitor's pending writes on the main thread while the real "ddc" thread
// takes them: run under ThreadSanitizer too.

#include "ddc/VCP.h"
#include "tests/faults/RealTimeDesk.h"

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;

TEST(ThreadedMerge, EveryJobSetsTheLevelBeforeItUnmutesAndTheMonitorEndsAtTheLastPress) {
    testing::RealTimeDesk desk;
    const auto monitor = desk.addRememberedDell();
    desk.defaults->put("hideMonitorOSD", false);
    auto delegate = desk.launch();
    // Past the launch's level and overlay jobs.
    ASSERT_TRUE(desk.mainQueue->pumpUntil([&] { return !monitor->appliedSets().empty(); }, 5s));
    desk.mainQueue->pumpFor(300ms);

    // A job (two sends of each write, 10 ms apart) runs while a mute and a level press merge
    // into the slot behind it, which the "ddc" thread takes when the job ends.
    for (int round = 0; round < 8; ++round) {
        for (const auto keyCode : {kKeyTypeSoundUp, kKeyTypeMute, kKeyTypeSoundDown}) {
            ASSERT_EQ(desk.press(keyCode).decision, TapDecision::Swallow);
            desk.mainQueue->pumpFor(5ms);
        }
        desk.mainQueue->pumpFor(100ms);
    }
    ASSERT_TRUE(desk.mainQueue->pumpUntil(
        [&] {
            const auto level = monitor->control(kVCPAudioSpeakerVolume)->current;
            const auto mute = monitor->control(kVCPAudioMute)->current;
            return level == delegate->volume &&
                   mute == (delegate->muted ? kAudioMuteOn : kAudioMuteOff);
        },
        5s));
    // Each write goes out twice, the second send 10 ms after the first: in pairs, an unmute
    // always follows its level.
    desk.mainQueue->pumpFor(100ms);
    const auto sets = monitor->appliedSets();
    ASSERT_EQ(sets.size() % 2, 0u);
    for (std::size_t pair = 2; pair < sets.size(); pair += 2) {
        EXPECT_EQ(sets[pair], sets[pair + 1]);
        if (sets[pair] == sim::VCPSet{kVCPAudioMute, kAudioMuteOff}) {
            EXPECT_EQ(sets[pair - 1].code, kVCPAudioSpeakerVolume) << "set " << pair;
        }
    }
    delegate->applicationWillTerminate();
}

} // namespace
} // namespace varnu
