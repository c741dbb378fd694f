#include "audio/Audio.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimScheduler.h"

#include <memory>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimAudioDevice;
using sim::SimAudioHardware;

TEST(ObserveChanges, CallsBackOnTheMainQueueForDeviceListAndDefaultOutputChanges) {
    auto scheduler = sim::SimScheduler::create();
    SimAudioHardware hardware(scheduler);
    const auto speakers = hardware.addDevice(SimAudioDevice{"Speakers", "Speakers"});
    const auto monitor = hardware.addDevice(SimAudioDevice{"DP-1", "DELL"});
    hardware.setDefaultOutput(speakers);
    scheduler->runUntilIdle();

    int calls = 0;
    Audio::observeChanges(hardware, [&] { ++calls; });

    const auto headphones = hardware.addDevice(SimAudioDevice{"USB", "Headphones"});
    EXPECT_EQ(calls, 0) << "delivered on the main queue, not from inside the change";
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 1);

    hardware.setDefaultOutput(monitor);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 2);

    const AudioObjectPropertyAddress defaultOutput{kAudioHardwarePropertyDefaultOutputDevice};
    EXPECT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, defaultOutput, headphones),
              kAudioHardwareNoError);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 3);

    // The system output alone is not watched.
    hardware.setDefaultSystemOutput(monitor);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 3);

    // Unplugging the default output changes the list and the default: two calls.
    hardware.removeDevice(headphones);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 5);
}

} // namespace
} // namespace varnu
