#pragma once

// DDC/CI addressing and the MCCS controls Varnu speaks.

#include <cstddef>
#include <cstdint>

namespace varnu {

// The display's 7-bit DDC/CI address; on the bus it becomes 0x6E for writing.
constexpr std::uint32_t kDDCChipAddress = 0x37;
constexpr std::uint8_t kDDCDisplayWriteAddress = 0x6E;
// The host's source-address byte, sent right after the chip address.
constexpr std::uint32_t kDDCHostAddress = 0x51;
// The destination of a display's reply, which is never sent but seeds the reply's checksum.
constexpr std::uint8_t kDDCVirtualHostAddress = 0x50;

constexpr std::uint8_t kDDCLengthFlag = 0x80;
constexpr std::uint8_t kGetVCPFeature = 0x01;
constexpr std::uint8_t kGetVCPFeatureReply = 0x02;
constexpr std::uint8_t kSetVCPFeature = 0x03;
constexpr std::uint8_t kVCPResultNoError = 0x00;
constexpr std::uint8_t kVCPResultUnsupported = 0x01;

// Bytes after the length byte and before the checksum: the opcode and its arguments.
constexpr std::uint8_t kSetVCPFeaturePayloadLength = 4;
constexpr std::uint8_t kGetVCPFeaturePayloadLength = 2;
constexpr std::uint8_t kGetVCPFeatureReplyPayloadLength = 8;

// Requests are checksummed from the destination byte on, but the address bytes, the length
// byte and the opcode never change, so they fold into one seed per request.
constexpr std::uint8_t requestChecksumSeed(std::uint8_t payloadLength, std::uint8_t opcode) {
    return static_cast<std::uint8_t>(kDDCDisplayWriteAddress ^ kDDCHostAddress ^
                                     (kDDCLengthFlag | payloadLength) ^ opcode);
}
constexpr std::uint8_t kSetVCPFeatureChecksumSeed =
    requestChecksumSeed(kSetVCPFeaturePayloadLength, kSetVCPFeature);
constexpr std::uint8_t kGetVCPFeatureChecksumSeed =
    requestChecksumSeed(kGetVCPFeaturePayloadLength, kGetVCPFeature);

constexpr std::size_t kSetVCPFeatureRequestSize = 6;
constexpr std::size_t kGetVCPFeatureRequestSize = 4;
constexpr std::size_t kGetVCPFeatureReplySize = 11;

// Where the parts of a Get VCP Feature reply sit in the bytes read back.
constexpr std::size_t kReplySourceIndex = 0;
constexpr std::size_t kReplyLengthIndex = 1;
constexpr std::size_t kReplyOpcodeIndex = 2;
constexpr std::size_t kReplyResultIndex = 3;
constexpr std::size_t kReplyCodeIndex = 4;
constexpr std::size_t kReplyMaximumHighIndex = 6;
constexpr std::size_t kReplyMaximumLowIndex = 7;
constexpr std::size_t kReplyCurrentHighIndex = 8;
constexpr std::size_t kReplyCurrentLowIndex = 9;
constexpr std::size_t kReplyChecksumIndex = 10;

// Pauses the display needs between messages.
constexpr std::uint32_t kSetVCPFeaturePauseMicroseconds = 10'000;
constexpr std::uint32_t kGetVCPFeatureReplyDelayMicroseconds = 50'000;

// MCCS control codes.
constexpr std::uint8_t kVCPAudioSpeakerVolume = 0x62;
constexpr std::uint8_t kVCPAudioMute = 0x8D;
constexpr std::uint8_t kVCPOSD = 0xCA;

// Values of the mute and on-screen-display controls.
constexpr std::uint16_t kAudioMuteOn = 1;
constexpr std::uint16_t kAudioMuteOff = 2;
constexpr std::uint16_t kOSDHidden = 1;
constexpr std::uint16_t kOSDShown = 2;

} // namespace varnu
