#pragma once

// The audio property interface the core reaches the system's audio configuration through.
// Objects are addressed by id; properties by (selector, scope, element), written as the
// four-character codes the audio layer is built around.

#include <cstdint>
#include <functional>
#include <string>
#include <variant>
#include <vector>

namespace varnu {

using AudioObjectID = std::uint32_t;
using AudioObjectPropertySelector = std::uint32_t;
using AudioObjectPropertyScope = std::uint32_t;
using AudioObjectPropertyElement = std::uint32_t;
using OSStatus = std::int32_t;

constexpr OSStatus kAudioHardwareNoError = 0;
constexpr OSStatus kAudioHardwareUnknownPropertyError = 0x77686F3F;      // 'who?'
constexpr OSStatus kAudioHardwareBadObjectError = 0x216F626A;            // '!obj'
constexpr OSStatus kAudioHardwareUnsupportedOperationError = 0x756E6F70; // 'unop'
constexpr OSStatus kAudioHardwareIllegalOperationError = 0x6E6F7065;     // 'nope'

constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

constexpr std::uint32_t fourCharCode(const char (&code)[5]) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(code[3]));
}

constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = fourCharCode("dev#");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultOutputDevice =
    fourCharCode("dOut");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDefaultSystemOutputDevice =
    fourCharCode("sOut");
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration =
    fourCharCode("slay");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = fourCharCode("uid ");
constexpr AudioObjectPropertySelector kAudioObjectPropertyName = fourCharCode("lnam");
constexpr AudioObjectPropertySelector kAudioDevicePropertyVolumeScalar = fourCharCode("volm");

constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = fourCharCode("glob");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = fourCharCode("outp");

constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;

struct AudioObjectPropertyAddress {
    AudioObjectPropertySelector selector = 0;
    AudioObjectPropertyScope scope = kAudioObjectPropertyScopeGlobal;
    AudioObjectPropertyElement element = kAudioObjectPropertyElementMain;

    friend bool operator==(const AudioObjectPropertyAddress&,
                           const AudioObjectPropertyAddress&) = default;
};

// Byte sizes the property layer reports, so that size-then-read callers keep their arithmetic.
constexpr std::uint32_t kAudioObjectIDSize = 4;
constexpr std::uint32_t kAudioStringReferenceSize = 8;
constexpr std::uint32_t kAudioBufferListHeaderSize = 8;
constexpr std::uint32_t kAudioBufferSize = 16;

// The stream configuration: one entry per buffer, each the buffer's channel count.
struct AudioBufferList {
    std::vector<std::uint32_t> numberChannels;

    friend bool operator==(const AudioBufferList&, const AudioBufferList&) = default;
};

// The typed payloads the property operations carry.
using AudioObjectIDList = std::vector<AudioObjectID>;
using AudioPropertyData =
    std::variant<std::monostate, AudioObjectIDList, AudioObjectID, AudioBufferList, std::string>;

class AudioHardware {
public:
    virtual ~AudioHardware() = default;

    virtual OSStatus getPropertyDataSize(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         std::uint32_t& dataSize) = 0;
    virtual OSStatus getPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     AudioPropertyData& data) = 0;
    virtual OSStatus setPropertyData(AudioObjectID object,
                                     const AudioObjectPropertyAddress& address,
                                     const AudioPropertyData& data) = 0;
    virtual bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) = 0;
    virtual OSStatus isPropertySettable(AudioObjectID object,
                                        const AudioObjectPropertyAddress& address,
                                        bool& isSettable) = 0;
    // The listener runs on the main queue, once per change. Registrations last as long as
    // the hardware object.
    virtual OSStatus addPropertyListener(AudioObjectID object,
                                         const AudioObjectPropertyAddress& address,
                                         std::function<void()> listener) = 0;
};

} // namespace varnu
