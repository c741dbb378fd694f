#include "audio/Audio.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimScheduler.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimAudioDevice;
using sim::SimAudioHardware;
using sim::SimScheduler;

class OutputDevices : public ::testing::Test {
protected:
    std::shared_ptr<SimScheduler> scheduler = SimScheduler::create();
    SimAudioHardware hardware{scheduler};

    AudioObjectID add(const char* uid, const char* name,
                      std::vector<std::uint32_t> channels = {2}) {
        return hardware.addDevice(SimAudioDevice{uid, name, std::move(channels)});
    }
};

TEST_F(OutputDevices, ListsEveryDeviceWithOutputChannelsInSystemOrder) {
    const auto speakers = add("BuiltInSpeakers", "MacBook Speakers");
    add("BuiltInMic", "MacBook Microphone", {});
    const auto left = add("DP-1", "DELL U2723QE");
    add("Silent", "Input Bus", {0, 0});
    const auto right = add("DP-2", "DELL U2723QE");
    const auto late = add("USB", "Second Buffer Only", {0, 2});
    // A sum that wraps in 32 bits must not make a device look silent.
    const auto huge = add("Huge", "Many Channels", {std::numeric_limits<std::uint32_t>::max(), 1});

    EXPECT_EQ(Audio::outputDevices(hardware),
              (std::vector<AudioOutput>{{speakers, "BuiltInSpeakers", "MacBook Speakers"},
                                        {left, "DP-1", "DELL U2723QE"},
                                        {right, "DP-2", "DELL U2723QE"},
                                        {late, "USB", "Second Buffer Only"},
                                        {huge, "Huge", "Many Channels"}}));
}

TEST_F(OutputDevices, LeavesOutUnreadableDevicesAndKeepsTheOnesAfterThem) {
    hardware.failDataSize(add("A", "Layout size fails"), kAudioDevicePropertyStreamConfiguration);
    hardware.misreportDataSize(add("B", "Empty layout"), kAudioDevicePropertyStreamConfiguration,
                               0);
    hardware.failData(add("C", "Layout read fails"), kAudioDevicePropertyStreamConfiguration);
    hardware.failData(add("D", "UID fails"), kAudioDevicePropertyDeviceUID);
    hardware.failData(add("E", "Name fails"), kAudioObjectPropertyName);
    hardware.answerWithoutText(add("F", "UID not text"), kAudioDevicePropertyDeviceUID);
    hardware.answerWithoutText(add("G", "Name not text"), kAudioObjectPropertyName);
    const auto readable = add("H", "Readable");

    EXPECT_EQ(Audio::outputDevices(hardware),
              (std::vector<AudioOutput>{{readable, "H", "Readable"}}));
}

TEST_F(OutputDevices, DeviceListSizeBoundsTheCatalogue) {
    const auto first = add("A", "First");
    const auto second = add("B", "Second");
    add("C", "Third");

    // A size that is not a whole number of ids counts only the whole ones.
    hardware.misreportDataSize(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
                               2 * kAudioObjectIDSize + 3);
    EXPECT_EQ(Audio::outputDevices(hardware),
              (std::vector<AudioOutput>{{first, "A", "First"}, {second, "B", "Second"}}));

    hardware.misreportDataSize(kAudioObjectSystemObject, kAudioHardwarePropertyDevices, 3);
    EXPECT_TRUE(Audio::outputDevices(hardware).empty());

    // Ids the read does not deliver are no devices.
    hardware.misreportDataSize(kAudioObjectSystemObject, kAudioHardwarePropertyDevices,
                               5 * kAudioObjectIDSize);
    EXPECT_EQ(Audio::outputDevices(hardware).size(), 3u);
}

TEST_F(OutputDevices, UnreadableDeviceListGivesNoDevices) {
    add("A", "First");
    hardware.failDataSize(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE(Audio::outputDevices(hardware).empty());

    hardware.clearFaults();
    hardware.failData(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE(Audio::outputDevices(hardware).empty());
}

TEST(AudioOutput, EqualOnlyWhenIdUidAndNameAllMatch) {
    const AudioOutput output{7, "DP-1", "DELL"};
    EXPECT_EQ(output, (AudioOutput{7, "DP-1", "DELL"}));
    EXPECT_NE(output, (AudioOutput{8, "DP-1", "DELL"}));
    EXPECT_NE(output, (AudioOutput{7, "DP-2", "DELL"}));
    EXPECT_NE(output, (AudioOutput{7, "DP-1", "LG"}));
}

} // namespace
} // namespace varnu
