#include "audio/Audio.h"

#include <cstddef>
#include <optional>
#include <string>
#include <utility>

namespace varnu::Audio {

namespace {

constexpr AudioObjectPropertyElement kFirstChannel = 1;

constexpr AudioObjectPropertyAddress kDevicesAddress{kAudioHardwarePropertyDevices,
                                                     kAudioObjectPropertyScopeGlobal,
                                                     kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kDefaultOutputAddress{
    kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
    kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kOutputStreamsAddress{kAudioDevicePropertyStreamConfiguration,
                                                           kAudioObjectPropertyScopeOutput,
                                                           kAudioObjectPropertyElementMain};

// The device ids the system lists, as many as the reported size holds; ids the read did not
// deliver stay unknown.
std::optional<AudioObjectIDList> deviceIDs(AudioHardware& hardware) {
    std::uint32_t dataSize = 0;
    if (hardware.getPropertyDataSize(kAudioObjectSystemObject, kDevicesAddress, dataSize) !=
        kAudioHardwareNoError) {
        return std::nullopt;
    }
    const std::size_t count = dataSize / kAudioObjectIDSize;
    AudioPropertyData data = AudioObjectIDList(count, kAudioObjectUnknown);
    if (hardware.getPropertyData(kAudioObjectSystemObject, kDevicesAddress, data) !=
        kAudioHardwareNoError) {
        return std::nullopt;
    }
    auto* ids = std::get_if<AudioObjectIDList>(&data);
    if (!ids) {
        return AudioObjectIDList(count, kAudioObjectUnknown);
    }
    ids->resize(count, kAudioObjectUnknown);
    return std::move(*ids);
}

bool hasOutputChannels(AudioHardware& hardware, AudioObjectID id) {
    std::uint32_t dataSize = 0;
    if (hardware.getPropertyDataSize(id, kOutputStreamsAddress, dataSize) !=
            kAudioHardwareNoError ||
        dataSize == 0) {
        return false;
    }
    AudioPropertyData data = AudioBufferList{};
    if (hardware.getPropertyData(id, kOutputStreamsAddress, data) != kAudioHardwareNoError) {
        return false;
    }
    std::uint64_t channels = 0;
    if (const auto* buffers = std::get_if<AudioBufferList>(&data)) {
        for (auto bufferChannels : buffers->numberChannels) {
            channels += bufferChannels;
        }
    }
    return channels >= 1;
}

std::optional<std::string> text(AudioHardware& hardware, AudioObjectID id,
                                AudioObjectPropertySelector selector) {
    AudioPropertyData data;
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    if (hardware.getPropertyData(id, address, data) != kAudioHardwareNoError) {
        return std::nullopt;
    }
    if (auto* value = std::get_if<std::string>(&data)) {
        return std::move(*value);
    }
    return std::nullopt;
}

bool volumeSettable(AudioHardware& hardware, AudioObjectID id, AudioObjectPropertyElement element) {
    const AudioObjectPropertyAddress address{kAudioDevicePropertyVolumeScalar,
                                             kAudioObjectPropertyScopeOutput, element};
    if (!hardware.hasProperty(id, address)) {
        return false;
    }
    bool settable = false;
    return hardware.isPropertySettable(id, address, settable) == kAudioHardwareNoError && settable;
}

} // namespace

std::vector<AudioOutput> outputDevices(AudioHardware& hardware) {
    std::vector<AudioOutput> outputs;
    auto ids = deviceIDs(hardware);
    if (!ids) {
        return outputs;
    }
    for (auto id : *ids) {
        if (!hasOutputChannels(hardware, id)) {
            continue;
        }
        auto uid = text(hardware, id, kAudioDevicePropertyDeviceUID);
        if (!uid) {
            continue;
        }
        auto name = text(hardware, id, kAudioObjectPropertyName);
        if (!name) {
            continue;
        }
        outputs.push_back(AudioOutput{id, std::move(*uid), std::move(*name)});
    }
    return outputs;
}

bool hasNativeVolume(AudioHardware& hardware, AudioObjectID id) {
    return volumeSettable(hardware, id, kAudioObjectPropertyElementMain) ||
           volumeSettable(hardware, id, kFirstChannel);
}

void observeChanges(AudioHardware& hardware, std::function<void()> callback) {
    // Which properties changed does not matter to the caller: a change touching both calls it
    // twice.
    hardware.addPropertyListener(kAudioObjectSystemObject, kDevicesAddress, [callback] {
        if (callback) {
            callback();
        }
    });
    hardware.addPropertyListener(kAudioObjectSystemObject, kDefaultOutputAddress,
                                 [callback = std::move(callback)] {
                                     if (callback) {
                                         callback();
                                     }
                                 });
}

} // namespace varnu::Audio
