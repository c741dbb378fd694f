#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "tests/app/SimDesk.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;
using sim::VCPSet;
using testing::SimDesk;

constexpr std::chrono::milliseconds kAutoRepeat{33};

// The Set VCP Feature transfers of one code the monitor took, with their times.
std::vector<std::pair<std::int64_t, std::uint16_t>> setsOf(const sim::SimMonitor& monitor,
                                                           std::uint8_t code) {
    std::vector<std::pair<std::int64_t, std::uint16_t>> sets;
    for (const auto& transfer : monitor.transactions()) {
        const auto& bytes = transfer.bytes;
        if (transfer.direction == sim::I2CDirection::Write && transfer.status == kIOReturnSuccess &&
            bytes.size() == 6 && bytes[1] == 0x03 && bytes[2] == code) {
            sets.emplace_back(transfer.timeMilliseconds,
                              static_cast<std::uint16_t>(bytes[3] << 8 | bytes[4]));
        }
    }
    return sets;
}

// Every write goes out twice.
std::vector<VCPSet> twice(std::initializer_list<VCPSet> sets) {
    std::vector<VCPSet> sent;
    for (const auto& set : sets) {
        sent.insert(sent.end(), 2, set);
    }
    return sent;
}

struct HeldKeyDesk : SimDesk {
    AudioObjectID dell = addOutput("dell", "DELL U2723QE");
    std::shared_ptr<sim::SimMonitor> dellMonitor = addMonitor("DELL U2723QE");
    std::shared_ptr<AppDelegate> delegate;

    HeldKeyDesk(bool hide, std::uint16_t level) {
        defaults->put("selectedDeviceUID", std::string("dell"));
        defaults->put("hideMonitorOSD", hide);
        dellMonitor->setControl(kVCPAudioSpeakerVolume, {level, 100});
        delegate = launch();
        scheduler->advance(1s);
        dellMonitor->clearLog();
    }

    // The key, held: pressed, then repeated every 33 ms.
    void hold(std::int64_t keyCode, int times) {
        for (int press = 0; press < times; ++press) {
            if (press > 0) {
                scheduler->advance(kAutoRepeat);
            }
            ASSERT_TRUE(delegate->handle(key(keyCode)));
            scheduler->runUntilIdle();
        }
    }
};

TEST(HeldKeys, PressesFurtherApartThanAJobSendEveryWriteAtItsPressTime) {
    HeldKeyDesk desk(true, 50);
    const auto start = desk.scheduler->nowMilliseconds();
    for (const auto keyCode : {kKeyTypeSoundUp, kKeyTypeMute, kKeyTypeSoundDown}) {
        ASSERT_TRUE(desk.delegate->handle(SimDesk::key(keyCode)));
        desk.scheduler->advance(61ms);
    }
    using Sent = std::tuple<std::int64_t, std::uint8_t, std::uint16_t>;
    std::vector<Sent> sent;
    for (const auto code : {kVCPOSD, kVCPAudioSpeakerVolume, kVCPAudioMute}) {
        for (const auto& [time, value] : setsOf(*desk.dellMonitor, code)) {
            sent.emplace_back(time - start, code, value);
        }
    }
    std::sort(sent.begin(), sent.end());
    // Each write twice, 10 ms apart.
    std::vector<Sent> expected;
    const std::vector<Sent> writes{{0, 0xCA, 1},  {20, 0x62, 56}, {40, 0x8D, 2},   {61, 0xCA, 1},
                                   {81, 0x8D, 1}, {122, 0xCA, 1}, {142, 0x62, 50}, {162, 0x8D, 2}};
    for (const auto& [at, code, value] : writes) {
        expected.insert(expected.end(), {{at, code, value}, {at + 10, code, value}});
    }
    EXPECT_EQ(sent, expected);
}

TEST(HeldKeys, AMergedJobSetsTheLevelBeforeItUnmutes) {
    // Mute, then up while the first job runs: the latest press orders the merged codes.
    HeldKeyDesk desk(false, 50);
    desk.hold(kKeyTypeSoundUp, 1);
    desk.scheduler->advance(10ms);
    desk.hold(kKeyTypeMute, 1);
    desk.hold(kKeyTypeSoundUp, 1);
    desk.scheduler->advance(1s);
    EXPECT_EQ(desk.dellMonitor->appliedSets(),
              twice({{0x62, 56}, {0x8D, 2}, {0x62, 62}, {0x8D, 2}}));
    EXPECT_FALSE(desk.delegate->muted);
}

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
