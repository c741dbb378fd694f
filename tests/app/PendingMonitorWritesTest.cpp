// The merge of a press's writes into a job that has not started; what the monitor then
// receives, and when, is in the held-key scenarios' traces.

#include "app/PendingMonitorWrites.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"

#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

TEST(PendingWrites, TheLatestPressOrdersTheCodesItWrites) {
    const VCPWrite hide{kVCPOSD, kOSDHidden};
    const VCPWrite mute{kVCPAudioMute, kAudioMuteOn};
    const VCPWrite unmute{kVCPAudioMute, kAudioMuteOff, true};
    const auto level = [](std::uint16_t value) { return VCPWrite{kVCPAudioSpeakerVolume, value}; };
    struct Case {
        const char* what;
        std::vector<std::vector<VCPWrite>> presses;
        std::vector<VCPWrite> merged;
    };
    const Case cases[] = {
        {"mute, down", {{mute}, {level(68), unmute}}, {level(68), unmute}},
        {"up, mute", {{hide, level(62), unmute}, {hide, mute}}, {hide, level(62), mute}},
        {"hiding switched on, up",
         {{level(56), unmute}, {hide, level(62), unmute}},
         {hide, level(62), unmute}},
        {"hiding switched on, mute", {{level(56), unmute}, {hide, mute}}, {hide, level(56), mute}},
    };
    for (const auto& c : cases) {
        PendingMonitorWrites pending(nullptr);
        for (const auto& press : c.presses) {
            pending.merge(press);
        }
        EXPECT_EQ(pending.take(), c.merged) << c.what;
    }
}

} // namespace
} // namespace varnu
