#include "platform/linux/devices-service/DdcRequests.h"

#include "ddc/VCP.h"

#include <algorithm>
#include <array>

namespace varnu::linux_backend::devices {
namespace {

constexpr std::array kControlsInUse{kVCPAudioSpeakerVolume, kVCPAudioMute, kVCPOSD};
constexpr std::size_t kOpcodeIndex = 1;
constexpr std::size_t kCodeIndex = 2;

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

} // namespace

bool isAllowed(const DdcWrite& write) {
    if (!isOursOnTheBus(write.chipAddress, write.dataAddress) || write.bytes.size() <= kCodeIndex ||
        std::find(kControlsInUse.begin(), kControlsInUse.end(), write.bytes[kCodeIndex]) ==
            kControlsInUse.end()) {
        return false;
    }
    return isRequest(write.bytes, kSetVCPFeatureRequestSize, kSetVCPFeaturePayloadLength,
                     kSetVCPFeature, kSetVCPFeatureChecksumSeed) ||
           isRequest(write.bytes, kGetVCPFeatureRequestSize, kGetVCPFeaturePayloadLength,
                     kGetVCPFeature, kGetVCPFeatureChecksumSeed);
}

bool isAllowed(const DdcRead& read) {
    return isOursOnTheBus(read.chipAddress, read.dataAddress) &&
           read.length == kGetVCPFeatureReplySize;
}

} // namespace varnu::linux_backend::devices
