#pragma once

#include "audio/AudioOutput.h"
#include "platform/AudioHardware.h"

#include <functional>
#include <vector>

namespace varnu::Audio {

// The devices that can play sound, in the system's order; empty when the list cannot be read.
std::vector<AudioOutput> outputDevices(AudioHardware& hardware);

// Whether the device's output volume is present and settable on the main element or the first
// channel.
bool hasNativeVolume(AudioHardware& hardware, AudioObjectID id);

// Calls back on the main queue when the device list or the default output changes.
void observeChanges(AudioHardware& hardware, std::function<void()> callback);

} // namespace varnu::Audio
