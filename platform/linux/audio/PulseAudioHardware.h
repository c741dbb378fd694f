#pragma once

// The system's audio outputs through a PulseAudio server (PulseAudio itself, or PipeWire's
// pulse server).
// Implements, on the system object: 'dev#' (size, read, listener), 'dOut' (read, write,
// listener) and 'sOut' (read answers the default sink; a write succeeds and changes nothing,
// since the server has no separate device for system sounds).
// On each output (one per sink): 'slay' (one buffer with the sink's channel count in the output
// scope, none in any other), 'uid ' (the sink name), 'lnam' and 'volm' (present and settable on
// the main element of the output scope exactly when the sink has a native volume); the name and
// the volume rule are explained in SinkClassification.h.
// Does not implement: reading or changing volume and mute, sources, streams, listeners on
// devices or on any other property.
//
// Threads. PulseConnection keeps the server's state on libpulse's own thread and posts every
// complete, changed picture to the main queue, where AudioDeviceMirror turns it into the outputs
// every read is answered from, so a read never waits on the server. Everything but construction
// and destruction happens on the main thread.
//
// A default-output write shows at once. The server's default replaces it once the server shows
// the written sink, refuses the write, or has not taken it up within a grace period (see
// DefaultSinkWrites.h).
//
// When the server goes away the mirror empties (no devices, no default) and a fresh context is
// tried every reconnect interval until one connects; the listeners fire as the mirror changes.

#include "platform/AudioHardware.h"
#include "platform/Dispatch.h"
#include "platform/linux/audio/AudioDeviceMirror.h"
#include "platform/linux/audio/PulseConnection.h"

#include <memory>

namespace varnu::linux_backend {

class PulseAudioHardware final : public AudioHardware {
public:
    explicit PulseAudioHardware(std::shared_ptr<MainQueue> mainQueue,
                                PulseAudioOptions options = {});
    ~PulseAudioHardware() override;

    PulseAudioHardware(const PulseAudioHardware&) = delete;
    PulseAudioHardware& operator=(const PulseAudioHardware&) = delete;

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& dataSize) override;
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             AudioPropertyData& data) override;
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             const AudioPropertyData& data) override;
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override;
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& isSettable) override;
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::function<void()> listener) override;

    // Whether the mirror holds a connected server's state.
    bool isConnected() const;

private:
    std::shared_ptr<AudioDeviceMirror> mirror_;
    std::unique_ptr<PulseConnection> connection_;
};

} // namespace varnu::linux_backend
