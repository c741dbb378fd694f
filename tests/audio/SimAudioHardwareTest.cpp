#include "platform/sim/SimAudioHardware.h"

#include "platform/sim/SimScheduler.h"

#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

constexpr AudioObjectPropertyAddress kDefaultOutput{kAudioHardwarePropertyDefaultOutputDevice};
constexpr AudioObjectPropertyAddress kDefaultSystemOutput{
    kAudioHardwarePropertyDefaultSystemOutputDevice};

TEST(SimAudioHardware, DefaultOutputWritesAreCheckedReportedAndNotifiedOnlyOnChange) {
    auto scheduler = SimScheduler::create();
    SimAudioHardware hardware(scheduler);
    const auto speakers = hardware.addDevice(SimAudioDevice{"Speakers", "Speakers"});
    const auto monitor = hardware.addDevice(SimAudioDevice{"DP-1", "DELL"});
    std::vector<SimAudioWrite> writes;
    hardware.setWriteObserver([&](const SimAudioWrite& write) { writes.push_back(write); });
    int notifications = 0;
    hardware.addPropertyListener(kAudioObjectSystemObject, kDefaultOutput,
                                 [&] { ++notifications; });

    hardware.setDefaultOutput(speakers);
    EXPECT_TRUE(writes.empty()) << "world commands are no application writes";

    EXPECT_NE(hardware.setPropertyData(kAudioObjectSystemObject, kDefaultOutput, AudioObjectID{99}),
              kAudioHardwareNoError);
    EXPECT_EQ(hardware.defaultOutput(), speakers);
    EXPECT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefaultOutput, monitor),
              kAudioHardwareNoError);
    EXPECT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefaultOutput, monitor),
              kAudioHardwareNoError);
    EXPECT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefaultSystemOutput, monitor),
              kAudioHardwareNoError);

    AudioPropertyData read;
    EXPECT_EQ(hardware.getPropertyData(kAudioObjectSystemObject, kDefaultOutput, read),
              kAudioHardwareNoError);
    EXPECT_EQ(read, AudioPropertyData(monitor));
    EXPECT_EQ(hardware.defaultSystemOutput(), monitor);

    ASSERT_EQ(writes.size(), 4u);
    EXPECT_NE(writes[0].status, kAudioHardwareNoError);
    EXPECT_EQ(writes[0].uid, "");
    EXPECT_EQ(writes[1].uid, "DP-1");
    EXPECT_EQ(writes[1].status, kAudioHardwareNoError);
    EXPECT_EQ(writes[3].selector, kAudioHardwarePropertyDefaultSystemOutputDevice);

    // speakers by command, monitor by the first successful write; the repeat changes nothing.
    scheduler->runUntilIdle();
    EXPECT_EQ(notifications, 2);
}

TEST(SimAudioHardware, DevicesGetFreshIdsAndARemovedDefaultFallsBackToAnOutput) {
    SimAudioHardware hardware(SimScheduler::create());
    const auto microphone = hardware.addDevice(SimAudioDevice{"Mic", "Mic", {}});
    const auto speakers = hardware.addDevice(SimAudioDevice{"Speakers", "Speakers", {2, 2}});
    const auto monitor = hardware.addDevice(SimAudioDevice{"DP-1", "DELL"});
    hardware.setDefaultOutput(monitor);
    hardware.setDefaultSystemOutput(monitor);
    hardware.removeDevice(monitor);
    const auto replugged = hardware.addDevice(SimAudioDevice{"DP-1", "DELL"});

    for (auto id : {microphone, speakers, monitor, replugged}) {
        EXPECT_GT(id, kAudioObjectSystemObject);
    }
    EXPECT_NE(replugged, monitor);
    EXPECT_EQ(hardware.deviceIDs(), (std::vector<AudioObjectID>{microphone, speakers, replugged}));
    EXPECT_EQ(hardware.defaultOutput(), speakers);
    EXPECT_EQ(hardware.defaultSystemOutput(), speakers);
    EXPECT_EQ(hardware.idForUID("DP-1"), replugged);

    std::uint32_t size = 0;
    EXPECT_EQ(hardware.getPropertyDataSize(monitor, {kAudioObjectPropertyName}, size),
              kAudioHardwareBadObjectError);
}

} // namespace
} // namespace varnu::sim
