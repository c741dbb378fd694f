#include "platform/sim/SimAudioHardware.h"

#include <algorithm>

namespace varnu::sim {

namespace {

bool isSystemProperty(AudioObjectPropertySelector selector) {
    return selector == kAudioHardwarePropertyDevices ||
           selector == kAudioHardwarePropertyDefaultOutputDevice ||
           selector == kAudioHardwarePropertyDefaultSystemOutputDevice;
}

bool isGlobalMain(const AudioObjectPropertyAddress& address) {
    return address.scope == kAudioObjectPropertyScopeGlobal &&
           address.element == kAudioObjectPropertyElementMain;
}

bool hasOutputChannels(const SimAudioDevice& device) {
    return std::any_of(device.outputChannels.begin(), device.outputChannels.end(),
                       [](std::uint32_t channels) { return channels > 0; });
}

struct VolumeElement {
    bool present = false;
    bool settable = false;
};

VolumeElement volumeElement(SimVolumeControl control, AudioObjectPropertyElement element) {
    switch (control) {
    case SimVolumeControl::None:
        return {};
    case SimVolumeControl::Main:
        return {element == 0, element == 0};
    case SimVolumeControl::FirstChannel:
        return {element == 1, element == 1};
    case SimVolumeControl::SecondChannel:
        return {element == 2, element == 2};
    case SimVolumeControl::ReadOnly:
        return {element <= 1, false};
    }
    return {};
}

} // namespace

SimAudioHardware::SimAudioHardware(std::shared_ptr<MainQueue> mainQueue)
    : mainQueue_(std::move(mainQueue)) {}

bool SimAudioHardware::exists(AudioObjectID object) const {
    return object == kAudioObjectSystemObject || device(object) != nullptr;
}

bool SimAudioHardware::knows(AudioObjectID object,
                             const AudioObjectPropertyAddress& address) const {
    if (object == kAudioObjectSystemObject) {
        return isSystemProperty(address.selector) && isGlobalMain(address);
    }
    const auto* found = device(object);
    if (!found) {
        return false;
    }
    switch (address.selector) {
    case kAudioDevicePropertyStreamConfiguration:
        return address.scope == kAudioObjectPropertyScopeOutput &&
               address.element == kAudioObjectPropertyElementMain;
    case kAudioDevicePropertyDeviceUID:
    case kAudioObjectPropertyName:
        return isGlobalMain(address);
    case kAudioDevicePropertyVolumeScalar:
        return address.scope == kAudioObjectPropertyScopeOutput &&
               volumeElement(found->volume, address.element).present;
    default:
        return false;
    }
}

const SimAudioHardware::Fault* SimAudioHardware::fault(AudioObjectID object,
                                                       AudioObjectPropertySelector selector) const {
    auto it = faults_.find({object, selector});
    return it == faults_.end() ? nullptr : &it->second;
}

OSStatus SimAudioHardware::getPropertyDataSize(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::uint32_t& dataSize) {
    if (!exists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!knows(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (const auto* injected = fault(object, address.selector)) {
        if (injected->sizeStatus != kAudioHardwareNoError) {
            return injected->sizeStatus;
        }
        if (injected->dataSize) {
            dataSize = *injected->dataSize;
            return kAudioHardwareNoError;
        }
    }
    switch (address.selector) {
    case kAudioHardwarePropertyDevices:
        dataSize = static_cast<std::uint32_t>(devices_.size()) * kAudioObjectIDSize;
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultOutputDevice:
    case kAudioHardwarePropertyDefaultSystemOutputDevice:
        dataSize = kAudioObjectIDSize;
        return kAudioHardwareNoError;
    case kAudioDevicePropertyStreamConfiguration:
        dataSize =
            kAudioBufferListHeaderSize +
            static_cast<std::uint32_t>(device(object)->outputChannels.size()) * kAudioBufferSize;
        return kAudioHardwareNoError;
    case kAudioDevicePropertyDeviceUID:
    case kAudioObjectPropertyName:
        dataSize = kAudioStringReferenceSize;
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnsupportedOperationError;
    }
}

OSStatus SimAudioHardware::getPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           AudioPropertyData& data) {
    if (!exists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!knows(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    const auto* injected = fault(object, address.selector);
    if (injected && injected->dataStatus != kAudioHardwareNoError) {
        return injected->dataStatus;
    }
    switch (address.selector) {
    case kAudioHardwarePropertyDevices:
        data = deviceIDs();
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultOutputDevice:
        data = defaultOutput_;
        return kAudioHardwareNoError;
    case kAudioHardwarePropertyDefaultSystemOutputDevice:
        data = defaultSystemOutput_;
        return kAudioHardwareNoError;
    case kAudioDevicePropertyStreamConfiguration:
        data = AudioBufferList{device(object)->outputChannels};
        return kAudioHardwareNoError;
    case kAudioDevicePropertyDeviceUID:
    case kAudioObjectPropertyName:
        if (injected && injected->withoutText) {
            data = std::monostate{};
        } else if (address.selector == kAudioDevicePropertyDeviceUID) {
            data = device(object)->uid;
        } else {
            data = device(object)->name;
        }
        return kAudioHardwareNoError;
    default:
        return kAudioHardwareUnsupportedOperationError;
    }
}

OSStatus SimAudioHardware::setPropertyData(AudioObjectID object,
                                           const AudioObjectPropertyAddress& address,
                                           const AudioPropertyData& data) {
    if (!exists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!knows(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    const bool isDefault = object == kAudioObjectSystemObject &&
                           (address.selector == kAudioHardwarePropertyDefaultOutputDevice ||
                            address.selector == kAudioHardwarePropertyDefaultSystemOutputDevice);
    if (!isDefault) {
        return address.selector == kAudioDevicePropertyVolumeScalar
                   ? kAudioHardwareUnsupportedOperationError
                   : kAudioHardwareIllegalOperationError;
    }
    SimAudioWrite write;
    write.selector = address.selector;
    if (const auto* id = std::get_if<AudioObjectID>(&data)) {
        write.device = *id;
        if (const auto* target = device(*id)) {
            write.uid = target->uid;
            auto& current = address.selector == kAudioHardwarePropertyDefaultOutputDevice
                                ? defaultOutput_
                                : defaultSystemOutput_;
            write.status = setDefault(current, address.selector, *id);
        } else {
            write.status = kAudioHardwareBadObjectError;
        }
    } else {
        write.status = kAudioHardwareIllegalOperationError;
    }
    if (writeObserver_) {
        writeObserver_(write);
    }
    return write.status;
}

bool SimAudioHardware::hasProperty(AudioObjectID object,
                                   const AudioObjectPropertyAddress& address) {
    return knows(object, address);
}

OSStatus SimAudioHardware::isPropertySettable(AudioObjectID object,
                                              const AudioObjectPropertyAddress& address,
                                              bool& isSettable) {
    if (!exists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!knows(object, address)) {
        return kAudioHardwareUnknownPropertyError;
    }
    if (object == kAudioObjectSystemObject) {
        isSettable = address.selector != kAudioHardwarePropertyDevices;
    } else if (address.selector == kAudioDevicePropertyVolumeScalar) {
        isSettable = volumeElement(device(object)->volume, address.element).settable;
    } else {
        isSettable = false;
    }
    return kAudioHardwareNoError;
}

OSStatus SimAudioHardware::addPropertyListener(AudioObjectID object,
                                               const AudioObjectPropertyAddress& address,
                                               std::function<void()> listener) {
    if (!exists(object)) {
        return kAudioHardwareBadObjectError;
    }
    if (!listener) {
        return kAudioHardwareIllegalOperationError;
    }
    listeners_.push_back(Listener{object, address, std::move(listener)});
    return kAudioHardwareNoError;
}

AudioObjectID SimAudioHardware::addDevice(SimAudioDevice device) {
    const auto id = nextID_++;
    devices_.emplace_back(id, std::move(device));
    notify(kAudioHardwarePropertyDevices);
    return id;
}

bool SimAudioHardware::removeDevice(AudioObjectID id) {
    auto it = std::find_if(devices_.begin(), devices_.end(),
                           [id](const auto& entry) { return entry.first == id; });
    if (it == devices_.end()) {
        return false;
    }
    devices_.erase(it);
    notify(kAudioHardwarePropertyDevices);
    if (defaultOutput_ == id) {
        setDefault(defaultOutput_, kAudioHardwarePropertyDefaultOutputDevice, fallbackOutput());
    }
    if (defaultSystemOutput_ == id) {
        setDefault(defaultSystemOutput_, kAudioHardwarePropertyDefaultSystemOutputDevice,
                   fallbackOutput());
    }
    return true;
}

void SimAudioHardware::setDefaultOutput(AudioObjectID id) {
    setDefault(defaultOutput_, kAudioHardwarePropertyDefaultOutputDevice, id);
}

void SimAudioHardware::setDefaultSystemOutput(AudioObjectID id) {
    setDefault(defaultSystemOutput_, kAudioHardwarePropertyDefaultSystemOutputDevice, id);
}

OSStatus SimAudioHardware::setDefault(AudioObjectID& current, AudioObjectPropertySelector selector,
                                      AudioObjectID id) {
    if (current != id) {
        current = id;
        notify(selector);
    }
    return kAudioHardwareNoError;
}

AudioObjectID SimAudioHardware::fallbackOutput() const {
    for (const auto& [id, device] : devices_) {
        if (hasOutputChannels(device)) {
            return id;
        }
    }
    return kAudioObjectUnknown;
}

std::vector<AudioObjectID> SimAudioHardware::deviceIDs() const {
    std::vector<AudioObjectID> ids;
    ids.reserve(devices_.size());
    for (const auto& entry : devices_) {
        ids.push_back(entry.first);
    }
    return ids;
}

SimAudioDevice* SimAudioHardware::device(AudioObjectID id) {
    return const_cast<SimAudioDevice*>(std::as_const(*this).device(id));
}

const SimAudioDevice* SimAudioHardware::device(AudioObjectID id) const {
    for (const auto& entry : devices_) {
        if (entry.first == id) {
            return &entry.second;
        }
    }
    return nullptr;
}

std::optional<AudioObjectID> SimAudioHardware::idForUID(std::string_view uid) const {
    for (const auto& [id, device] : devices_) {
        if (device.uid == uid) {
            return id;
        }
    }
    return std::nullopt;
}

void SimAudioHardware::failDataSize(AudioObjectID object, AudioObjectPropertySelector selector,
                                    OSStatus status) {
    faults_[{object, selector}].sizeStatus = status;
}

void SimAudioHardware::failData(AudioObjectID object, AudioObjectPropertySelector selector,
                                OSStatus status) {
    faults_[{object, selector}].dataStatus = status;
}

void SimAudioHardware::misreportDataSize(AudioObjectID object, AudioObjectPropertySelector selector,
                                         std::uint32_t dataSize) {
    faults_[{object, selector}].dataSize = dataSize;
}

void SimAudioHardware::answerWithoutText(AudioObjectID object,
                                         AudioObjectPropertySelector selector) {
    faults_[{object, selector}].withoutText = true;
}

void SimAudioHardware::clearFaults() {
    faults_.clear();
}

void SimAudioHardware::notify(AudioObjectPropertySelector selector) {
    const AudioObjectPropertyAddress address{selector, kAudioObjectPropertyScopeGlobal,
                                             kAudioObjectPropertyElementMain};
    for (const auto& registered : listeners_) {
        if (registered.object == kAudioObjectSystemObject && registered.address == address) {
            mainQueue_->async(registered.listener);
        }
    }
}

} // namespace varnu::sim
