#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "tests/app/SimDesk.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
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
// One key's job: two sends of each write, 10 ms after each.
constexpr std::int64_t kJobHiding = 60;
constexpr std::int64_t kJobShowing = 40;

struct Press {
    std::int64_t at = 0;
    std::int64_t level = 0;
};

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

// The monitor's level at a moment, from the level writes it took up to then.
std::optional<std::uint16_t> levelAt(const sim::SimMonitor& monitor, std::int64_t at) {
    std::optional<std::uint16_t> level;
    for (const auto& [time, value] : setsOf(monitor, kVCPAudioSpeakerVolume)) {
        if (time <= at) {
            level = value;
        }
    }
    return level;
}

// Every write goes out twice.
std::vector<VCPSet> twice(std::initializer_list<VCPSet> sets) {
    std::vector<VCPSet> sent;
    for (const auto& set : sets) {
        sent.insert(sent.end(), 2, set);
    }
    return sent;
}

std::int64_t lastTransferEnd(const sim::SimMonitor& monitor) {
    const auto transfers = monitor.transactions();
    // Every send is followed by its 10 ms pause.
    return transfers.empty() ? 0 : transfers.back().timeMilliseconds + 10;
}

struct HeldKeyDesk : SimDesk {
    AudioObjectID dell = addOutput("dell", "DELL U2723QE");
    AudioObjectID lg = addOutput("lg", "LG HDR 4K");
    std::shared_ptr<sim::SimMonitor> dellMonitor = addMonitor("DELL U2723QE");
    std::shared_ptr<sim::SimMonitor> lgMonitor = addMonitor("LG HDR 4K");
    std::shared_ptr<AppDelegate> delegate;
    std::vector<Press> presses;

    HeldKeyDesk(bool hide, std::uint16_t level) {
        defaults->put("selectedDeviceUID", std::string("dell"));
        defaults->put("hideMonitorOSD", hide);
        dellMonitor->setControl(kVCPAudioSpeakerVolume, {level, 100});
        delegate = launch();
        scheduler->advance(1s);
        dellMonitor->clearLog();
        lgMonitor->clearLog();
    }

    // The key, held: pressed, then repeated every 33 ms.
    void hold(std::int64_t keyCode, int times) {
        for (int press = 0; press < times; ++press) {
            if (press > 0) {
                scheduler->advance(kAutoRepeat);
            }
            ASSERT_TRUE(delegate->handle(key(keyCode)));
            presses.push_back({scheduler->nowMilliseconds(), delegate->volume});
            scheduler->runUntilIdle();
        }
    }
};

TEST(HeldKeys, TheMonitorFollowsTheLastPressWithinTwoJobs) {
    for (const bool hide : {true, false}) {
        const std::int64_t job = hide ? kJobHiding : kJobShowing;
        HeldKeyDesk desk(hide, 10);
        desk.hold(kKeyTypeSoundUp, 30);
        desk.hold(kKeyTypeSoundDown, 30);
        desk.scheduler->advance(1s);

        const auto& monitor = *desk.dellMonitor;
        EXPECT_EQ(desk.delegate->volume, 0);
        EXPECT_EQ(monitor.control(kVCPAudioSpeakerVolume)->current, 0) << hide;
        EXPECT_LE(lastTransferEnd(monitor) - desk.presses.back().at, 2 * job) << hide;
        // Two jobs after any press, the monitor holds the level of that press or a later one.
        for (std::size_t index = 0; index < desk.presses.size(); ++index) {
            const std::int64_t by = desk.presses[index].at + 2 * job;
            const auto level = levelAt(monitor, by);
            ASSERT_TRUE(level) << hide << " press " << index;
            const bool current = std::any_of(
                desk.presses.begin() + static_cast<std::ptrdiff_t>(index), desk.presses.end(),
                [&](const Press& later) { return later.at <= by && later.level == *level; });
            EXPECT_TRUE(current) << hide << " press " << index << " monitor at " << *level;
        }
        // Presses that came while a job ran share the job after it; each level goes out twice.
        EXPECT_LT(setsOf(monitor, kVCPAudioSpeakerVolume).size() / 2, desk.presses.size());
    }
}

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

TEST(HeldKeys, AnUnmuteWaitingBehindAMuteKeepsItsPlace) {
    // Mute, then up while the first job runs: the unmute keeps the place the mute took.
    HeldKeyDesk desk(false, 50);
    desk.hold(kKeyTypeSoundUp, 1);
    desk.scheduler->advance(10ms);
    desk.hold(kKeyTypeMute, 1);
    desk.hold(kKeyTypeSoundUp, 1);
    desk.scheduler->advance(1s);
    EXPECT_EQ(desk.dellMonitor->appliedSets(),
              twice({{0x62, 56}, {0x8D, 2}, {0x8D, 2}, {0x62, 62}}));
    EXPECT_FALSE(desk.delegate->muted);
}

} // namespace
} // namespace varnu
