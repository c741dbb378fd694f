#pragma once

// A simulated audio system.
// Implements: AudioHardware over devices listed in the order they were added: the device list
// ('dev#'), the default output ('dOut') and default system output ('sOut'), both readable and
// writable; per device the output stream configuration ('slay', output scope), the UID ('uid '),
// the name ('lnam') and an output volume ('volm', output scope) that is settable on the main
// element or one channel, present but read-only, or absent. Listeners fire on the main queue
// when the device list or a default device changes. Reads can be made to fail, their sizes to be
// misreported and texts to come back as no text.
// Does not: hold volume values (reading or writing 'volm' is unsupported), answer wildcard
// addresses or other scopes than the ones above, notify about changes made through device(),
// or choose a default device by itself except when the default one is removed.

#include "platform/AudioHardware.h"
#include "platform/Dispatch.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace varnu::sim {

enum class SimVolumeControl {
    None,          // no output volume at all
    Main,          // settable on the main element
    FirstChannel,  // settable on channel 1 only
    SecondChannel, // settable on channel 2 only
    ReadOnly,      // present on the main element and channel 1, settable on neither
};

struct SimAudioDevice {
    std::string uid;
    std::string name;
    // Channels per output buffer; empty or all zero is a device without output.
    std::vector<std::uint32_t> outputChannels{2};
    SimVolumeControl volume = SimVolumeControl::None;
};

// A write of 'dOut' or 'sOut' made through the AudioHardware interface.
struct SimAudioWrite {
    AudioObjectPropertySelector selector = 0;
    AudioObjectID device = kAudioObjectUnknown;
    std::string uid; // empty when the id is no device
    OSStatus status = kAudioHardwareNoError;
};

class SimAudioHardware final : public AudioHardware {
public:
    using WriteObserver = std::function<void(const SimAudioWrite&)>;

    explicit SimAudioHardware(std::shared_ptr<MainQueue> mainQueue);

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& dataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             AudioPropertyData& data) override;
    // A default (system) output can be set to any device id; a change notifies its listeners,
    // setting the current one again does not.
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             const AudioPropertyData& data) override;
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& isSettable) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::function<void()> listener) override;

    // The world. Ids are handed out in increasing order, never 0 or 1 and never twice.
    AudioObjectID addDevice(SimAudioDevice device);
    // A removed default (system) output falls back to the first remaining device with output
    // channels, or to none.
    bool removeDevice(AudioObjectID id);
    // Changes made outside the interface: not reported to the write observer.
    void setDefaultOutput(AudioObjectID id);
    void setDefaultSystemOutput(AudioObjectID id);

    AudioObjectID defaultOutput() const { return defaultOutput_; }
    AudioObjectID defaultSystemOutput() const { return defaultSystemOutput_; }
    std::vector<AudioObjectID> deviceIDs() const;
    SimAudioDevice* device(AudioObjectID id);
    const SimAudioDevice* device(AudioObjectID id) const;
    std::optional<AudioObjectID> idForUID(std::string_view uid) const;

    // Faults, per object (a device or kAudioObjectSystemObject) and selector.
    void failDataSize(AudioObjectID object, AudioObjectPropertySelector selector,
                      OSStatus status = kAudioHardwareUnknownPropertyError);
    void failData(AudioObjectID object, AudioObjectPropertySelector selector,
                  OSStatus status = kAudioHardwareUnknownPropertyError);
    // The size answered instead of the true one; the data read is unchanged.
    void misreportDataSize(AudioObjectID object, AudioObjectPropertySelector selector,
                           std::uint32_t dataSize);
    // 'uid ' or 'lnam' read successfully but without a text in it.
    void answerWithoutText(AudioObjectID object, AudioObjectPropertySelector selector);
    void clearFaults();

    void setWriteObserver(WriteObserver observer) { writeObserver_ = std::move(observer); }

private:
    struct Fault {
        OSStatus sizeStatus = kAudioHardwareNoError;
        OSStatus dataStatus = kAudioHardwareNoError;
        std::optional<std::uint32_t> dataSize;
        bool withoutText = false;
    };
    struct Listener {
        AudioObjectID object;
        AudioObjectPropertyAddress address;
        std::function<void()> listener;
    };
    using FaultKey = std::pair<AudioObjectID, AudioObjectPropertySelector>;

    bool exists(AudioObjectID object) const;
    // Whether the object answers the address at all.
    bool knows(AudioObjectID object, const AudioObjectPropertyAddress& address) const;
    const Fault* fault(AudioObjectID object, AudioObjectPropertySelector selector) const;
    OSStatus setDefault(AudioObjectID& current, AudioObjectPropertySelector selector,
                        AudioObjectID id);
    void notify(AudioObjectPropertySelector selector);
    AudioObjectID fallbackOutput() const;

    std::shared_ptr<MainQueue> mainQueue_;
    std::vector<std::pair<AudioObjectID, SimAudioDevice>> devices_;
    AudioObjectID nextID_ = 2;
    AudioObjectID defaultOutput_ = kAudioObjectUnknown;
    AudioObjectID defaultSystemOutput_ = kAudioObjectUnknown;
    std::map<FaultKey, Fault> faults_;
    std::vector<Listener> listeners_;
    WriteObserver writeObserver_;
};

} // namespace varnu::sim
