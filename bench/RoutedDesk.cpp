#include "bench/RoutedDesk.h"

#include "ddc/VCP.h"

#include <array>
#include <optional>

namespace varnu::bench {

namespace {

constexpr IOReturn kNoReply = 1;
constexpr std::uint16_t kLevel = 50;
constexpr std::uint16_t kMaximum = 100;

class InstantBus final : public AVService {
public:
    explicit InstantBus(InstantDisplays::BusWatch onWrite)
        : onWrite_(std::move(onWrite)) {}
    IOReturn writeI2C(std::uint32_t, std::uint32_t, std::span<const std::uint8_t> bytes) override {
        if (onWrite_) {
            onWrite_(bytes);
        }
        asked_.reset();
        if (bytes.size() == kGetVCPFeatureRequestSize && bytes[1] == kGetVCPFeature) {
            asked_ = bytes[2];
        }
        return kIOReturnSuccess;
    }
    // The reply to the Get VCP Feature just written, else nothing.
    IOReturn readI2C(std::uint32_t, std::uint32_t, std::span<std::uint8_t> buffer) override {
        if (!asked_ || buffer.size() != kGetVCPFeatureReplySize) {
            return kNoReply;
        }
        const std::array<std::uint8_t, kGetVCPFeatureReplySize - 1> reply{
            kDDCDisplayWriteAddress,
            kDDCLengthFlag | kGetVCPFeatureReplyPayloadLength,
            kGetVCPFeatureReply,
            kVCPResultNoError,
            *asked_,
            0,
            0,
            kMaximum,
            0,
            kLevel};
        std::uint8_t checksum = kDDCVirtualHostAddress;
        for (std::size_t index = 0; index < reply.size(); ++index) {
            buffer[index] = reply[index];
            checksum ^= reply[index];
        }
        buffer[reply.size()] = checksum;
        asked_.reset();
        return kIOReturnSuccess;
    }

private:
    InstantDisplays::BusWatch onWrite_;
    std::optional<std::uint8_t> asked_;
};

class InstantPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

} // namespace

std::vector<ExternalDisplay> InstantDisplays::externalDisplays() {
    std::vector<ExternalDisplay> displays;
    displays.push_back({"LG UltraFine", std::make_unique<InstantBus>(onWrite_), "DP-1"});
    displays.push_back({"DELL U2723QE", std::make_unique<InstantBus>(onWrite_), "DP-2"});
    return displays;
}

RoutedDesk::RoutedDesk()
    : services(SimDesk::services()) {
    addOutput("mbp", "MacBook Pro Speakers", true);
    addOutput("hdmi", "HDMI Capture");
    audio->setDefaultOutput(addOutput("dell", "DELL U2723QE"));
    // The monitors come from the instant buses, not from the simulated registry.
    services.registry = nullptr;
    services.displays = std::make_shared<InstantDisplays>();
    services.pause = std::make_shared<InstantPause>();
}

const TappedEvent& SweepingKeys::next(std::int64_t level) {
    if (level >= kMaximumLevel) {
        goingUp_ = false;
    } else if (level <= kMinimumLevel) {
        goingUp_ = true;
    }
    return goingUp_ ? up_ : down_;
}

} // namespace varnu::bench
