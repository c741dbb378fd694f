#include "audio/Audio.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimScheduler.h"

#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimAudioDevice;
using sim::SimAudioHardware;
using sim::SimVolumeControl;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

TEST(NativeVolume, CountsOnlyASettableVolumeOnTheMainElementOrFirstChannel) {
    SimAudioHardware hardware(sim::SimScheduler::create());
    auto add = [&](SimVolumeControl volume) {
        return hardware.addDevice(SimAudioDevice{"uid", "name", {2}, volume});
    };
    const auto main = add(SimVolumeControl::Main);
    const auto firstChannel = add(SimVolumeControl::FirstChannel);
    const auto secondChannel = add(SimVolumeControl::SecondChannel);
    const auto readOnly = add(SimVolumeControl::ReadOnly);
    const auto none = add(SimVolumeControl::None);
    const auto gone = add(SimVolumeControl::Main);
    hardware.removeDevice(gone);

    EXPECT_TRUE(Audio::hasNativeVolume(hardware, main));
    EXPECT_TRUE(Audio::hasNativeVolume(hardware, firstChannel));
    EXPECT_FALSE(Audio::hasNativeVolume(hardware, secondChannel));
    EXPECT_FALSE(Audio::hasNativeVolume(hardware, readOnly));
    EXPECT_FALSE(Audio::hasNativeVolume(hardware, none));
    EXPECT_FALSE(Audio::hasNativeVolume(hardware, gone));
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

} // namespace
} // namespace varnu
