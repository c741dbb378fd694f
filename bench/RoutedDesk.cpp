#include "bench/RoutedDesk.h"

#include "platform/sim/SimAlerts.h"
#include "platform/sim/SimApplication.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimEventTaps.h"
#include "platform/sim/SimLoginItem.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/SimWorkspace.h"

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
    displays.push_back({"LG UltraFine", std::make_unique<InstantBus>(onWrite_)});
    displays.push_back({"DELL U2723QE", std::make_unique<InstantBus>(onWrite_)});
    return displays;
}

RoutedDesk::RoutedDesk()
    : scheduler(sim::SimScheduler::create())
    , overlays(std::make_shared<sim::SimOverlayFactory>(scheduler)) {
    auto audio = std::make_shared<sim::SimAudioHardware>(scheduler);
    audio->addDevice(
        sim::SimAudioDevice{"mbp", "MacBook Pro Speakers", {2}, sim::SimVolumeControl::Main});
    audio->addDevice(sim::SimAudioDevice{"hdmi", "HDMI Capture", {2}, sim::SimVolumeControl::None});
    const auto dell = audio->addDevice(
        sim::SimAudioDevice{"dell", "DELL U2723QE", {2}, sim::SimVolumeControl::None});
    audio->setDefaultOutput(dell);

    auto screens = std::make_shared<sim::SimScreens>();
    screens->addScreen(Rect{0, 0, 1920, 1080});
    screens->setMouseLocation(Point{960, 540});

    services.application = std::make_shared<sim::SimApplication>();
    services.statusBar = std::make_shared<sim::SimStatusBar>();
    services.defaults = std::make_shared<sim::SimUserDefaults>();
    services.languages = std::make_shared<sim::SimPreferredLanguages>();
    services.audio = audio;
    services.displays = std::make_shared<InstantDisplays>();
    services.pause = std::make_shared<InstantPause>();
    services.mainQueue = scheduler;
    services.makeSerialQueue = [scheduler = scheduler](const std::string& label) {
        return scheduler->makeSerialQueue(label);
    };
    services.overlays = overlays;
    services.screens = screens;
    services.windows = std::make_shared<sim::SimWindowFactory>();
    services.alerts = std::make_shared<sim::SimAlerts>();
    services.workspace = std::make_shared<sim::SimWorkspace>();
    services.eventTaps = std::make_shared<sim::SimEventTaps>();
    services.loginItem = std::make_shared<sim::SimLoginItem>();
}

TappedEvent volumeKeyPress(std::int64_t keyType) {
    return TappedEvent{kCGEventSystemDefined,
                       SystemDefinedEvent{kNSEventTypeSystemDefined, kNXSubtypeAuxControlButtons,
                                          keyType << 16 | kKeyStateDown << 8, 0}};
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
