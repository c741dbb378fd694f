#pragma once

// The simulated event-tap service.
// Implements: the permission check (a settable trust flag; every check and its prompt flag are
// recorded), tap creation that can be made to fail, taps that record enable() calls, delivery
// of events to the installed tap's callback (only the types in its mask, only while enabled),
// and the two notifications with which the system switches a tap off.
// Does not: show a permission dialog or see real input.

#include "platform/EventTap.h"
#include "platform/sim/SimHistory.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace varnu::sim {

struct EventTapRecord {
    enum class Kind {
        TrustChecked,        // prompt, trusted
        TapRequested,        // the parameters; created
        TapEnabled,          // enabled
        TapDisabledBySystem, // type = the notification's type
        EventDelivered,      // type, decision
        TapReleased,
    };
    Kind kind;
    std::size_t tap = 0; // index of the tap, in the order requested
    bool prompt = false;
    bool trusted = false;
    std::uint32_t location = 0;
    std::uint32_t placement = 0;
    std::uint32_t options = 0;
    CGEventMask eventsOfInterest = 0;
    bool created = false;
    bool enabled = false;
    CGEventType type = 0;
    TapDecision decision = TapDecision::Pass;
};

class SimEventTap {
public:
    std::uint32_t location() const { return location_; }
    std::uint32_t placement() const { return placement_; }
    std::uint32_t options() const { return options_; }
    CGEventMask eventsOfInterest() const { return eventsOfInterest_; }
    bool isEnabled() const { return enabled_; }
    // Every enable() call of the tap's owner, in order.
    const std::vector<bool>& enableCalls() const { return enableCalls_; }
    // The owner has let go of the tap; it delivers nothing more.
    bool isReleased() const { return released_; }

private:
    friend class SimEventTaps;
    std::size_t index_ = 0;
    std::uint32_t location_ = 0;
    std::uint32_t placement_ = 0;
    std::uint32_t options_ = 0;
    CGEventMask eventsOfInterest_ = 0;
    EventTapCallback callback_;
    bool enabled_ = true;
    std::vector<bool> enableCalls_;
    bool released_ = false;
};

class SimEventTaps final : public EventTapService {
public:
    bool isProcessTrusted(bool prompt) override;
    std::unique_ptr<EventTap> createTap(std::uint32_t location, std::uint32_t placement,
                                        std::uint32_t options, CGEventMask eventsOfInterest,
                                        EventTapCallback callback) override;

    // Whether the process holds the permission (it does not unless told).
    void setTrusted(bool trusted) { trusted_ = trusted; }
    bool isTrusted() const { return trusted_; }
    // Whether createTap fails even when trusted.
    void setCreationFails(bool fails) { creationFails_ = fails; }
    std::optional<LocalizedText> missingAccessAdvice() override { return advice_; }
    void setAdvice(std::optional<LocalizedText> advice) { advice_ = std::move(advice); }
    std::optional<LocalizedText> sharedAccessNotice() override { return notice_; }
    void setNotice(std::optional<LocalizedText> notice) { notice_ = std::move(notice); }
    std::optional<LocalizedText> keysTakenElsewhere() override { return takenElsewhere_; }
    void setTakenElsewhere(std::optional<LocalizedText> who) { takenElsewhere_ = std::move(who); }

    // The most recently created tap that its owner still holds, if any.
    std::shared_ptr<SimEventTap> tap() const;
    const std::vector<std::shared_ptr<SimEventTap>>& taps() const { return taps_; }

    // Hands the event to the live tap's callback and answers its decision; nothing when no
    // tap would see the event (none installed, switched off, or a type outside its mask), in
    // which case the event goes on to the system untouched.
    std::optional<TapDecision> deliver(const TappedEvent& event);
    // The system switches the live tap off and tells its callback; answers the callback's
    // decision, or nothing without a live tap.
    std::optional<TapDecision> disableByTimeout();
    std::optional<TapDecision> disableByUserInput();

    const std::vector<EventTapRecord>& history() const { return history_->records(); }
    void setObserver(SimHistory<EventTapRecord>::Observer observer) {
        history_->setObserver(std::move(observer));
    }

private:
    std::optional<TapDecision> disable(CGEventType notification);
    std::optional<TapDecision> call(SimEventTap& tap, const TappedEvent& event);

    bool trusted_ = false;
    bool creationFails_ = false;
    std::optional<LocalizedText> advice_;
    std::optional<LocalizedText> notice_;
    std::optional<LocalizedText> takenElsewhere_;
    std::size_t requests_ = 0;
    std::vector<std::shared_ptr<SimEventTap>> taps_;
    std::shared_ptr<SimHistory<EventTapRecord>> history_ =
        std::make_shared<SimHistory<EventTapRecord>>();
};

} // namespace varnu::sim
