#include "platform/sim/SimEventTaps.h"

namespace varnu::sim {

using Kind = EventTapRecord::Kind;

namespace {

// What the tap's owner holds; the state stays with the service for inspection.
class TapHandle final : public EventTap {
public:
    ~TapHandle() override {
        if (onRelease) {
            onRelease();
        }
    }
    void enable(bool enabled) override {
        if (onEnable) {
            onEnable(enabled);
        }
    }

    std::function<void(bool)> onEnable;
    std::function<void()> onRelease;
};

bool isDisableNotification(CGEventType type) {
    return type == kCGEventTapDisabledByTimeout || type == kCGEventTapDisabledByUserInput;
}

bool inMask(CGEventType type, CGEventMask mask) {
    return type < 64 && (mask & eventMaskBit(type));
}

} // namespace

bool SimEventTaps::isProcessTrusted(bool prompt) {
    history_->add({.kind = Kind::TrustChecked, .prompt = prompt, .trusted = trusted_});
    return trusted_;
}

std::unique_ptr<EventTap> SimEventTaps::createTap(std::uint32_t location, std::uint32_t placement,
                                                  std::uint32_t options,
                                                  CGEventMask eventsOfInterest,
                                                  EventTapCallback callback) {
    const std::size_t index = requests_++;
    // Like the real service, a tap needs the permission.
    const bool created = trusted_ && !creationFails_;
    history_->add({.kind = Kind::TapRequested,
                   .tap = index,
                   .location = location,
                   .placement = placement,
                   .options = options,
                   .eventsOfInterest = eventsOfInterest,
                   .created = created});
    if (!created) {
        return nullptr;
    }
    auto tap = std::make_shared<SimEventTap>();
    tap->index_ = index;
    tap->location_ = location;
    tap->placement_ = placement;
    tap->options_ = options;
    tap->eventsOfInterest_ = eventsOfInterest;
    tap->callback_ = std::move(callback);
    taps_.push_back(tap);

    auto handle = std::make_unique<TapHandle>();
    std::weak_ptr<SimEventTap> weak = tap;
    auto history = history_;
    handle->onEnable = [weak, history, index](bool enabled) {
        if (auto live = weak.lock()) {
            live->enabled_ = enabled;
            live->enableCalls_.push_back(enabled);
        }
        history->add({.kind = Kind::TapEnabled, .tap = index, .enabled = enabled});
    };
    handle->onRelease = [weak, history, index] {
        if (auto live = weak.lock()) {
            live->released_ = true;
        }
        history->add({.kind = Kind::TapReleased, .tap = index});
    };
    return handle;
}

std::shared_ptr<SimEventTap> SimEventTaps::tap() const {
    for (auto it = taps_.rbegin(); it != taps_.rend(); ++it) {
        if (!(*it)->released_) {
            return *it;
        }
    }
    return nullptr;
}

std::optional<TapDecision> SimEventTaps::call(SimEventTap& tap, const TappedEvent& event) {
    // The callback may re-enable or even release the tap while it runs.
    EventTapCallback callback = tap.callback_;
    const TapDecision decision = callback ? callback(event) : TapDecision::Pass;
    history_->add({.kind = Kind::EventDelivered,
                   .tap = tap.index_,
                   .type = event.type,
                   .decision = decision});
    return decision;
}

std::optional<TapDecision> SimEventTaps::deliver(const TappedEvent& event) {
    auto live = tap();
    if (!live || !live->enabled_) {
        return std::nullopt;
    }
    if (!isDisableNotification(event.type) && !inMask(event.type, live->eventsOfInterest_)) {
        return std::nullopt;
    }
    return call(*live, event);
}

std::optional<TapDecision> SimEventTaps::disableByTimeout() {
    return disable(kCGEventTapDisabledByTimeout);
}

std::optional<TapDecision> SimEventTaps::disableByUserInput() {
    return disable(kCGEventTapDisabledByUserInput);
}

std::optional<TapDecision> SimEventTaps::disable(CGEventType notification) {
    auto live = tap();
    if (!live) {
        return std::nullopt;
    }
    live->enabled_ = false;
    history_->add({.kind = Kind::TapDisabledBySystem, .tap = live->index_, .type = notification});
    return call(*live, TappedEvent{notification, std::nullopt});
}

} // namespace varnu::sim
