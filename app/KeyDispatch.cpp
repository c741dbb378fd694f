#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "audio/Audio.h"
#include "hud/HUD.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

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
    defaults->setInteger(volumeKey(output->uid), volume);

    if (settings->hideMonitorOSD()) {
        noteOSDSent(monitor, true);
    }
    // The tap's callback must return at once; the monitor is slow.
    ddcQueue->async([job = MonitorWriteJob{settings->hideMonitorOSD(), std::move(monitor), *keyCode,
                                           muted, volume}] { job.run(); });

    if (settings->showHUD()) {
        hud->show(volume, muted);
    }
    if (statusMenu_) {
        statusMenu_->invalidate();
    }
    return true;
}

} // namespace varnu
