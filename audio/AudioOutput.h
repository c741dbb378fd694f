#pragma once

#include "platform/AudioHardware.h"

#include <string>

namespace varnu {

// One audio output device.
struct AudioOutput {
    AudioObjectID id = kAudioObjectUnknown;
    std::string uid;  // persistent, what a remembered choice refers to
    std::string name; // what a person knows it by

    friend bool operator==(const AudioOutput&, const AudioOutput&) = default;
};

} // namespace varnu
