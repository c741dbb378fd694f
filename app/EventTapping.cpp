#include "app/AppDelegate.h"
#include "settings/SettingsModel.h"

namespace varnu {

namespace {

constexpr CGEventMask kSystemDefinedEvents = eventMaskBit(kCGEventSystemDefined);

bool isDisableNotification(CGEventType type) {
    return type >= kCGEventTapDisabledByTimeout;
}

} // namespace

void AppDelegate::installTap(bool prompt) {
    if (!services_.eventTaps->isProcessTrusted(prompt)) {
        return;
    }
    auto created = services_.eventTaps->createTap(
        kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault, kSystemDefinedEvents,
        [weak = weak_from_this()](const TappedEvent& event) {
            auto self = weak.lock();
            if (!self) {
                return TapDecision::Pass;
            }
            // The system switches a tap off when it is slow or when the user asks; it tells the
            // tap so, and the tap goes straight back on.
            if (isDisableNotification(event.type)) {
                if (self->tap) {
                    self->tap->enable(true);
                }
                return TapDecision::Pass;
            }
            return self->handle(event) ? TapDecision::Swallow : TapDecision::Pass;
        });
    if (!created) {
        return;
    }
    tap = std::move(created);
}

void AppDelegate::timerTick() {
    if (!tap) {
        installTap(false);
    }
    refreshSettings();
}

void AppDelegate::openAccessibility() {
    services_.workspace->openURL(services_.accessibilitySettingsURL);
}

} // namespace varnu
