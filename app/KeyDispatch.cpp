#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "hud/HUD.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <algorithm>

namespace varnu {

bool AppDelegate::handle(const TappedEvent& tapped) {
    if (!tapped.event) {
        return false;
    }
    const SystemDefinedEvent& event = *tapped.event;
    const auto keyCode = volumeKeyCode(event);
    if (!keyCode) {
        return false;
    }
    const auto output = currentOutput();
    const auto monitor = monitorInUse(output);
    if (!monitor) {
        return false;
    }
    // The key-up of a key Varnu acts on must not reach the system either.
    if (!isKeyDown(event.data1)) {
        return true;
    }

    const VolumeKeyPress key{*keyCode, chooseStep(event.modifierFlags, settings->step())};
    // The level the key steps from must be the one the monitor plays: while a reading of it is
    // on its way, or once Varnu has not talked to it for a while, the key waits for the reading.
    const auto& identity = monitor->identity();
    const bool awaiting = awaitingReading(output->uid, identity);
    if (awaiting || identity != levelAskedOf_ || !levelTrusted_) {
        if (!awaiting) {
            readBackLevel(monitor, output->uid);
        }
        if (waitingKeys_.empty()) {
            mutedBeforeWaitingKeys_ = muted;
        }
        waitingKeys_.push_back(key);
        return true;
    }
    sendKeys(output->uid, monitor, {&key, 1}, VolumeState{volume, muted}, true);
    return true;
}

void AppDelegate::sendKeys(const std::string& uid, const std::shared_ptr<DDCMonitor>& monitor,
                           std::span<const VolumeKeyPress> keys, VolumeState state, bool current) {
    const bool hide = settings->hideMonitorOSD();
    for (const auto& key : keys) {
        state = applyKey(key.keyCode, key.step, state);
        if (onKeySent) {
            onKeySent(*monitor, uid, key, state);
        }
        defaults->setInteger(volumeKey(uid), state.level);
        if (hide) {
            noteOSDHidden(monitor);
        }
        // The tap's callback must return at once; the monitor is slow.
        queueMonitorWrites(monitor, monitorWrites(hide, key.keyCode, state.muted, state.level));
    }
    if (!current) {
        return;
    }
    volume = state.level;
    muted = state.muted;
    levelKnown(monitor->identity());
    if (settings->showHUD()) {
        hud->show(volume, muted);
    }
    if (statusMenu_) {
        statusMenu_->invalidate();
    }
}

void AppDelegate::queueMonitorWrites(const std::shared_ptr<DDCMonitor>& monitor,
                                     const std::vector<VCPWrite>& writes) {
    auto found = std::find_if(pendingWrites_.begin(), pendingWrites_.end(),
                              [&](const auto& pending) { return pending->monitor() == monitor; });
    if (found == pendingWrites_.end()) {
        found = pendingWrites_.insert(pendingWrites_.end(),
                                      std::make_shared<PendingMonitorWrites>(monitor));
    }
    // A job that has not started yet takes this press's writes along with the earlier ones, so
    // the monitor is never more than one job behind the one it is carrying out.
    if ((*found)->merge(writes)) {
        ddcQueue->async(
            [pending = *found] { sendMonitorWrites(*pending->monitor(), pending->take()); });
    }
}

} // namespace varnu
