#include "platform/linux/devices-service/DdcRequests.h"

#include "ddc/VCP.h"

#include <algorithm>
#include <array>

namespace varnu::linux_backend::devices {
namespace {

constexpr std::array kControlsInUse{kVCPAudioSpeakerVolume, kVCPAudioMute, kVCPOSD};
constexpr std::size_t kOpcodeIndex = 1;
constexpr std::size_t kCodeIndex = 2;
constexpr std::size_t kValueHighIndex = 3;
constexpr std::size_t kValueLowIndex = 4;
constexpr std::uint16_t kLoudestVolume = 100;

bool isOursOnTheBus(std::uint8_t chipAddress, std::uint8_t dataAddress) {
    return chipAddress == kDDCChipAddress && dataAddress == kDDCHostAddress;
}

// The checksum seed holds the address bytes, the length and the opcode, so a request whose
// bytes fold to it is whole.
bool isRequest(const std::vector<std::uint8_t>& bytes, std::size_t size, std::uint8_t payload,
               std::uint8_t opcode, std::uint8_t seed) {
    if (bytes.size() != size || bytes[0] != (kDDCLengthFlag | payload) ||
        bytes[kOpcodeIndex] != opcode) {
        return false;
    }
    std::uint8_t checksum = seed;
    for (std::size_t index = kCodeIndex; index + 1 < size; ++index) {
        checksum ^= bytes[index];
    }
    return checksum == bytes.back();
}

// The values Varnu sets: a level up to 100, and the two states of the mute and of the menu.
bool isValueInUse(std::uint8_t code, std::uint16_t value) {
    if (code == kVCPAudioSpeakerVolume) {
        return value <= kLoudestVolume;
    }
    return code == kVCPAudioMute ? value == kAudioMuteOn || value == kAudioMuteOff
                                 : value == kOSDHidden || value == kOSDShown;
}

} // namespace

bool isAllowed(const DdcWrite& write) {
    if (!isOursOnTheBus(write.chipAddress, write.dataAddress) || write.bytes.size() <= kCodeIndex ||
        std::find(kControlsInUse.begin(), kControlsInUse.end(), write.bytes[kCodeIndex]) ==
            kControlsInUse.end()) {
        return false;
    }
    if (isRequest(write.bytes, kSetVCPFeatureRequestSize, kSetVCPFeaturePayloadLength,
                  kSetVCPFeature, kSetVCPFeatureChecksumSeed)) {
        auto value = static_cast<std::uint16_t>(write.bytes[kValueHighIndex] << 8 |
                                                write.bytes[kValueLowIndex]);
        return isValueInUse(write.bytes[kCodeIndex], value);
    }
    return asksReply(write);
}

bool asksReply(const DdcWrite& write) {
    return isRequest(write.bytes, kGetVCPFeatureRequestSize, kGetVCPFeaturePayloadLength,
                     kGetVCPFeature, kGetVCPFeatureChecksumSeed);
}

bool isAllowed(const DdcRead& read) {
    return isOursOnTheBus(read.chipAddress, read.dataAddress) &&
           read.length == kGetVCPFeatureReplySize;
}

} // namespace varnu::linux_backend::devices
