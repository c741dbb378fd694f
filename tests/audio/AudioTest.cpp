#include "audio/Audio.h"

#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimScheduler.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimAudioDevice;
using sim::SimVolumeControl;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

struct AudioTest : ::testing::Test {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    sim::SimAudioHardware hardware{scheduler};

    AudioObjectID add(const char* uid, const char* name,
                      std::vector<std::uint32_t> channels = {2}) {
        return hardware.addDevice(SimAudioDevice{uid, name, std::move(channels)});
    }
};

TEST_F(AudioTest, OutputDevicesListsEveryDeviceWithOutputChannelsInSystemOrder) {
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

TEST_F(AudioTest, OutputDevicesLeavesOutUnreadableDevicesAndKeepsTheOnesAfterThem) {
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

TEST_F(AudioTest, TheDeviceListDecidesTheOutputDevices) {
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

    hardware.clearFaults();
    hardware.failDataSize(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE(Audio::outputDevices(hardware).empty());
    hardware.clearFaults();
    hardware.failData(kAudioObjectSystemObject, kAudioHardwarePropertyDevices);
    EXPECT_TRUE(Audio::outputDevices(hardware).empty());
}

TEST_F(AudioTest, NativeVolumeIsOnlyASettableVolumeOnTheMainElementOrFirstChannel) {
    const std::pair<SimVolumeControl, bool> cases[] = {
        {SimVolumeControl::Main, true},           {SimVolumeControl::FirstChannel, true},
        {SimVolumeControl::SecondChannel, false}, {SimVolumeControl::ReadOnly, false},
        {SimVolumeControl::None, false},
    };
    for (const auto& [volume, native] : cases) {
        const auto id = hardware.addDevice(SimAudioDevice{"uid", "name", {2}, volume});
        EXPECT_EQ(Audio::hasNativeVolume(hardware, id), native) << static_cast<int>(volume);
        hardware.removeDevice(id);
        EXPECT_FALSE(Audio::hasNativeVolume(hardware, id));
    }
    EXPECT_FALSE(Audio::hasNativeVolume(hardware, kAudioObjectUnknown));
}

class MockAudioHardware : public AudioHardware {
public:
    MOCK_METHOD(OSStatus, getPropertyDataSize,
                (AudioObjectID, const AudioObjectPropertyAddress&, std::uint32_t&), (override));
    MOCK_METHOD(OSStatus, getPropertyData,
                (AudioObjectID, const AudioObjectPropertyAddress&, AudioPropertyData&), (override));
    MOCK_METHOD(OSStatus, setPropertyData,
                (AudioObjectID, const AudioObjectPropertyAddress&, const AudioPropertyData&),
                (override));
    MOCK_METHOD(bool, hasProperty, (AudioObjectID, const AudioObjectPropertyAddress&), (override));
    MOCK_METHOD(OSStatus, isPropertySettable,
                (AudioObjectID, const AudioObjectPropertyAddress&, bool&), (override));
    MOCK_METHOD(OSStatus, addPropertyListener,
                (AudioObjectID, const AudioObjectPropertyAddress&, std::function<void()>),
                (override));
};

TEST(NativeVolume, AFailedOrSilentSettableQueryDoesNotCount) {
    MockAudioHardware failing;
    EXPECT_CALL(failing, hasProperty(_, _)).WillRepeatedly(Return(true));
    EXPECT_CALL(failing, isPropertySettable(_, _, _))
        .WillRepeatedly(
            DoAll(SetArgReferee<2>(true), Return(kAudioHardwareUnsupportedOperationError)));
    EXPECT_FALSE(Audio::hasNativeVolume(failing, 40));

    // A query that answers success without setting the flag leaves it false.
    MockAudioHardware silent;
    EXPECT_CALL(silent, hasProperty(_, _)).WillRepeatedly(Return(true));
    EXPECT_CALL(silent, isPropertySettable(_, _, _)).WillRepeatedly(Return(kAudioHardwareNoError));
    EXPECT_FALSE(Audio::hasNativeVolume(silent, 40));
}

TEST_F(AudioTest, ObservesDeviceListAndDefaultOutputChangesOnTheMainQueue) {
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

    hardware.setDefaultOutput(headphones);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 2);

    // The system output alone is not watched.
    hardware.setDefaultSystemOutput(monitor);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 2);

    // Unplugging the default output changes the list and the default: two calls.
    hardware.removeDevice(headphones);
    scheduler->runUntilIdle();
    EXPECT_EQ(calls, 4);
}

} // namespace
} // namespace varnu
