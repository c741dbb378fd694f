#include "ddc/DDCMonitor.h"

#include "ddc/VCP.h"

#include <array>
#include <span>

namespace varnu {

namespace {

std::uint8_t highByte(std::uint16_t value) {
    return static_cast<std::uint8_t>(value >> 8);
}
std::uint8_t lowByte(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

std::int64_t bigEndianValue(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::int64_t>(high) * 256 + low;
}

} // namespace

bool isVCPReplyTo(std::uint8_t code, std::span<const std::uint8_t, kGetVCPFeatureReplySize> reply) {
    std::uint8_t checksum = kDDCVirtualHostAddress;
    for (const auto byte : reply.first<kReplyChecksumIndex>()) {
        checksum ^= byte;
    }
    return reply[kReplySourceIndex] == kDDCDisplayWriteAddress &&
           reply[kReplyLengthIndex] == (kDDCLengthFlag | kGetVCPFeatureReplyPayloadLength) &&
           reply[kReplyOpcodeIndex] == kGetVCPFeatureReply &&
           reply[kReplyResultIndex] == kVCPResultNoError && reply[kReplyCodeIndex] == code &&
           reply[kReplyChecksumIndex] == checksum;
}

DDCMonitor::DDCMonitor(std::unique_ptr<AVService> service, std::string name,
                       std::shared_ptr<Pause> pause, std::string identity)
    : service_(std::move(service))
    , name_(std::move(name))
    , pause_(std::move(pause))
    , identity_(std::move(identity)) {}

bool DDCMonitor::write(std::uint8_t code, std::uint16_t value) {
    if (!service_) {
        return false;
    }
    const std::uint8_t high = highByte(value);
    const std::uint8_t low = lowByte(value);
    const std::array<std::uint8_t, kSetVCPFeatureRequestSize> request{
        kDDCLengthFlag | kSetVCPFeaturePayloadLength,
        kSetVCPFeature,
        code,
        high,
        low,
        static_cast<std::uint8_t>(kSetVCPFeatureChecksumSeed ^ code ^ high ^ low),
    };
    // Set VCP Feature gets no reply, so a message the display drops would go unnoticed;
    // sending it twice makes that less likely.
    const IOReturn first = service_->writeI2C(kDDCChipAddress, kDDCHostAddress, request);
    pause_->usleep(kSetVCPFeaturePauseMicroseconds);
    const IOReturn second = service_->writeI2C(kDDCChipAddress, kDDCHostAddress, request);
    pause_->usleep(kSetVCPFeaturePauseMicroseconds);
    return first == kIOReturnSuccess || second == kIOReturnSuccess;
}

std::optional<VCPReading> DDCMonitor::read(std::uint8_t code) {
    if (!service_) {
        return std::nullopt;
    }
    const std::array<std::uint8_t, kGetVCPFeatureRequestSize> request{
        kDDCLengthFlag | kGetVCPFeaturePayloadLength,
        kGetVCPFeature,
        code,
        static_cast<std::uint8_t>(kGetVCPFeatureChecksumSeed ^ code),
    };
    if (service_->writeI2C(kDDCChipAddress, kDDCHostAddress, request) != kIOReturnSuccess) {
        return std::nullopt;
    }
    pause_->usleep(kGetVCPFeatureReplyDelayMicroseconds);

    std::array<std::uint8_t, kGetVCPFeatureReplySize> reply{};
    if (service_->readI2C(kDDCChipAddress, kDDCHostAddress, reply) != kIOReturnSuccess) {
        return std::nullopt;
    }
    if (!isVCPReplyTo(code, reply)) {
        return std::nullopt;
    }
    return VCPReading{
        .current = bigEndianValue(reply[kReplyCurrentHighIndex], reply[kReplyCurrentLowIndex]),
        .max = bigEndianValue(reply[kReplyMaximumHighIndex], reply[kReplyMaximumLowIndex]),
    };
}

} // namespace varnu
