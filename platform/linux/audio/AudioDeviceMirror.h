#pragma once

// The main thread's copy of the audio server's outputs, the one every property read is answered
// from, so that a read never waits on the server.
// Implements: applying a complete picture of the server (its sinks, cards and default sink) as
// the outputs the core sees, device ids per sink name, the default output shown after our own
// write until the server has settled it, and the listeners for the device list and the default
// output, which fire when the picture changes them.
// Does not implement: talking to the server (PulseConnection), the properties (PulseAudioHardware).
//
// Device ids are handed out per sink name, from 2 upwards (0 is "no device", 1 the system
// object): the same sink keeps its id for the life of the mirror, across reconnects, and an id
// never moves to another sink.
//
// Main thread only.

#include "platform/AudioHardware.h"
#include "platform/Dispatch.h"
#include "platform/linux/audio/SinkClassification.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace varnu::linux_backend {

// The server's state as one consistent picture, handed from the libpulse thread to the main
// thread by copy.
struct ServerSnapshot {
    bool connected = false;
    std::vector<SinkRecord> sinks; // in the server's order
    std::vector<CardRecord> cards;
    std::string defaultSink;
    // Default-sink writes up to this number are reflected in defaultSink.
    std::uint64_t defaultWritesSettled = 0;

    friend bool operator==(const ServerSnapshot&, const ServerSnapshot&) = default;
};

struct AudioDevice {
    AudioObjectID id = kAudioObjectUnknown;
    std::string uid;
    std::string name;
    std::uint32_t channels = 0;
    bool nativeVolume = true;

    friend bool operator==(const AudioDevice&, const AudioDevice&) = default;
};

class AudioDeviceMirror : public std::enable_shared_from_this<AudioDeviceMirror> {
public:
    using Listeners = std::vector<std::function<void()>>;
    static constexpr AudioObjectID kFirstDeviceID = 2;

    explicit AudioDeviceMirror(std::shared_ptr<MainQueue> mainQueue)
        : mainQueue_(std::move(mainQueue)) {}

    bool connected() const { return connected_; }
    const std::vector<AudioDevice>& devices() const { return devices_; }
    const AudioDevice* find(AudioObjectID id) const;
    AudioObjectID defaultID() const;

    void apply(const ServerSnapshot& snapshot);

    // The number the next default-sink write is to carry.
    std::uint64_t nextWrite() const { return defaultWritesIssued_ + 1; }
    // Shows a default-sink write the server took; its listeners run later from the main queue,
    // never from inside the caller's write. Only for a mirror owned by a shared_ptr.
    void wrote(std::uint64_t write, const std::string& sinkName);

    Listeners deviceListListeners;
    Listeners defaultOutputListeners;

private:
    AudioObjectID idFor(const std::string& sinkName);

    std::shared_ptr<MainQueue> mainQueue_;
    bool connected_ = false;
    std::vector<AudioDevice> devices_;
    std::string defaultSink_;
    std::uint64_t defaultWritesIssued_ = 0;
    std::unordered_map<std::string, AudioObjectID> ids_;
    AudioObjectID nextID_ = kFirstDeviceID;
};

} // namespace varnu::linux_backend
