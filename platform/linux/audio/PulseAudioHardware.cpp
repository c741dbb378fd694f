#include "platform/linux/audio/PulseAudioHardware.h"

namespace varnu::linux_backend {

PulseAudioHardware::PulseAudioHardware(std::shared_ptr<MainQueue> mainQueue,
                                       PulseAudioOptions options)
    : mirror_(std::make_shared<AudioDeviceMirror>(mainQueue))
    , connection_(
          std::make_unique<PulseConnection>(std::move(mainQueue), mirror_, std::move(options))) {}

PulseAudioHardware::~PulseAudioHardware() {
    // Stop the libpulse thread before the mirror goes; posted pictures find it gone and do
    // nothing.
    connection_.reset();
}

OSStatus PulseAudioHardware::getPropertyDataSize(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::uint32_t& dataSize) {
    AudioPropertyData data;
    const OSStatus status = getPropertyData(object, address, data);
    if (status != kAudioHardwareNoError) {
        return status;
    }
    if (const auto* list = std::get_if<AudioObjectIDList>(&data)) {
        dataSize = static_cast<std::uint32_t>(list->size()) * kAudioObjectIDSize;
    } else if (std::holds_alternative<AudioObjectID>(data)) {
        dataSize = kAudioObjectIDSize;
    } else if (const auto* buffers = std::get_if<AudioBufferList>(&data)) {
        dataSize = kAudioBufferListHeaderSize +
                   static_cast<std::uint32_t>(buffers->numberChannels.size()) * kAudioBufferSize;
    } else if (std::holds_alternative<std::string>(data)) {
        dataSize = kAudioStringReferenceSize;
    } else {
        return kAudioHardwareUnsupportedOperationError;
    }
    return kAudioHardwareNoError;
}

OSStatus PulseAudioHardware::getPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             AudioPropertyData& data) {
    if (object == kAudioObjectSystemObject) {
        switch (address.selector) {
        case kAudioHardwarePropertyDevices: {
            AudioObjectIDList ids;
            for (const auto& device : mirror_->devices()) {
                ids.push_back(device.id);
            }
            data = std::move(ids);
            return kAudioHardwareNoError;
        }
        case kAudioHardwarePropertyDefaultOutputDevice:
        case kAudioHardwarePropertyDefaultSystemOutputDevice:
            data = mirror_->defaultID();
            return kAudioHardwareNoError;
        default:
            return kAudioHardwareUnknownPropertyError;
        }
    }
    const AudioDevice* device = mirror_->find(object);
    if (!device) {
        return kAudioHardwareBadObjectError;
    }
    switch (address.selector) {
    case kAudioDevicePropertyStreamConfiguration:
        data = address.scope == kAudioObjectPropertyScopeOutput
                   ? AudioBufferList{{device->channels}}
                   : AudioBufferList{};
        return kAudioHardwareNoError;
    case kAudioDevicePropertyDeviceUID:
        data = device->uid;
        return kAudioHardwareNoError;
    case kAudioObjectPropertyName:
        data = device->name;
        return kAudioHardwareNoError;
    case kAudioDevicePropertyVolumeScalar:
        // Only ever tested for presence and settability.
        return hasProperty(object, address) ? kAudioHardwareUnsupportedOperationError
                                            : kAudioHardwareUnknownPropertyError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

OSStatus PulseAudioHardware::setPropertyData(AudioObjectID object,
                                             const AudioObjectPropertyAddress& address,
                                             const AudioPropertyData& data) {
    if (object != kAudioObjectSystemObject) {
        return mirror_->find(object) ? kAudioHardwareUnsupportedOperationError
                                     : kAudioHardwareBadObjectError;
    }
    const auto* id = std::get_if<AudioObjectID>(&data);
    switch (address.selector) {
    case kAudioHardwarePropertyDefaultSystemOutputDevice:
        return id ? kAudioHardwareNoError : kAudioHardwareIllegalOperationError;
    case kAudioHardwarePropertyDefaultOutputDevice:
        break;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
    if (!id) {
        return kAudioHardwareIllegalOperationError;
    }
    const AudioDevice* device = mirror_->find(*id);
    if (!device) {
        return kAudioHardwareBadObjectError;
    }
    const std::uint64_t write = mirror_->nextWrite();
    if (!connection_->setDefaultSink(device->uid, write)) {
        return kAudioHardwareIllegalOperationError;
    }
    mirror_->wrote(write, device->uid);
    return kAudioHardwareNoError;
}

bool PulseAudioHardware::hasProperty(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address) {
    if (object == kAudioObjectSystemObject) {
        return address.selector == kAudioHardwarePropertyDevices ||
               address.selector == kAudioHardwarePropertyDefaultOutputDevice ||
               address.selector == kAudioHardwarePropertyDefaultSystemOutputDevice;
    }
    const AudioDevice* device = mirror_->find(object);
    if (!device) {
        return false;
    }
    switch (address.selector) {
    case kAudioDevicePropertyStreamConfiguration:
    case kAudioDevicePropertyDeviceUID:
    case kAudioObjectPropertyName:
        return true;
    case kAudioDevicePropertyVolumeScalar:
        return device->nativeVolume && address.scope == kAudioObjectPropertyScopeOutput &&
               address.element == kAudioObjectPropertyElementMain;
    default:
        return false;
    }
}

OSStatus PulseAudioHardware::isPropertySettable(AudioObjectID object,
                                                const AudioObjectPropertyAddress& address,
                                                bool& isSettable) {
    isSettable = false;
    if (object != kAudioObjectSystemObject && !mirror_->find(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!hasProperty(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    isSettable = address.selector == kAudioHardwarePropertyDefaultOutputDevice ||
                 address.selector == kAudioHardwarePropertyDefaultSystemOutputDevice ||
                 address.selector == kAudioDevicePropertyVolumeScalar;
    return kAudioHardwareNoError;
}

OSStatus PulseAudioHardware::addPropertyListener(AudioObjectID object,
                                                 const AudioObjectPropertyAddress& address,
                                                 std::function<void()> listener) {
    if (object != kAudioObjectSystemObject) {
        return mirror_->find(object) ? kAudioHardwareUnsupportedOperationError
                                     : kAudioHardwareBadObjectError;
    }
    if (!listener) {
        return kAudioHardwareIllegalOperationError;
    }
    switch (address.selector) {
    case kAudioHardwarePropertyDevices:
        mirror_->deviceListListeners.push_back(std::move(listener));
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultOutputDevice:
        mirror_->defaultOutputListeners.push_back(std::move(listener));
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnknownPropertyError;
    }
}

bool PulseAudioHardware::isConnected() const {
    return mirror_->connected();
}

} // namespace varnu::linux_backend
