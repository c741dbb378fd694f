#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "audio/Audio.h"
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
    if (!output || Audio::hasNativeVolume(*services_.audio, output->id)) {
        return false;
    }
    auto monitor = monitorFor(output);
    if (!monitor) {
        return false;
    }
    // The key-up of a key Varnu acts on must not reach the system either.
    if (!isKeyDown(event.data1)) {
        return true;
    }

    const auto step = chooseStep(event.modifierFlags, settings->step());
    const auto next = applyKey(*keyCode, step, VolumeState{volume, muted});
    volume = next.level;
    muted = next.muted;
    if (*keyCode != kKeyTypeMute) {
        ++levelPresses_;
    }
    defaults->setInteger(volumeKey(output->uid), volume);

    const bool hide = settings->hideMonitorOSD();
    if (hide) {
        noteOSDHidden(monitor);
    }
    // The tap's callback must return at once; the monitor is slow.
    queueMonitorWrites(monitor, monitorWrites(hide, *keyCode, muted, volume));

    if (settings->showHUD()) {
        hud->show(volume, muted);
    }
    if (statusMenu_) {
        statusMenu_->invalidate();
    }
    return true;
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
