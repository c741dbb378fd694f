#include "bench/RoutedDesk.h"

namespace varnu::bench {

namespace {

constexpr IOReturn kNoReply = 1;

class InstantBus final : public AVService {
public:
    explicit InstantBus(std::function<void()> onWrite)
        : onWrite_(std::move(onWrite)) {}
    IOReturn writeI2C(std::uint32_t, std::uint32_t, std::span<const std::uint8_t>) override {
        if (onWrite_) {
            onWrite_();
        }
        return kIOReturnSuccess;
    }
    // Key presses only write.
    IOReturn readI2C(std::uint32_t, std::uint32_t, std::span<std::uint8_t>) override {
        return kNoReply;
    }

private:
    std::function<void()> onWrite_;
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
