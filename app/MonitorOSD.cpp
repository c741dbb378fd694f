#include "app/AppDelegate.h"
#include "audio/Audio.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"

#include <algorithm>

namespace varnu {

namespace {

// Time the monitor gets to act on the overlay change before it is asked how it went.
constexpr std::uint32_t kOSDSettleMicroseconds = 100'000;

} // namespace

void AppDelegate::applyOSD() {
    std::shared_ptr<DDCMonitor> monitor;
    if (auto output = currentOutput();
        output && !Audio::hasNativeVolume(*services_.audio, output->id)) {
        monitor = monitorFor(output);
    }
    if (!monitor) {
        settings->setOSDInfo(std::string());
        return;
    }
    const bool hide = settings->hideMonitorOSD();
    noteOSDSent(monitor, hide);
    ddcQueue->async([monitor, hide, weak = weak_from_this(), pause = services_.pause,
                     mainQueue = services_.mainQueue] {
        monitor->write(kVCPOSD, hide ? kOSDHidden : kOSDShown);
        pause->usleep(kOSDSettleMicroseconds);
        const auto reading = monitor->read(kVCPOSD);
        mainQueue->async([weak, hide, answered = reading.has_value(),
                          current = reading ? reading->current : 0] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            if (!hide) {
                self->settings->setOSDInfo(std::string());
                return;
            }
            const bool german = self->isGerman();
            if (!answered) {
                self->settings->setOSDInfo(
                    german ? "Der Monitor meldet nicht zurück, ob das klappt – bitte ausprobieren."
                           : "The monitor does not report whether this works – please try it.");
            } else if (current == kOSDHidden) {
                self->settings->setOSDInfo(
                    german ? "Der Monitor zeigt keine eigene Lautstärke-Anzeige mehr."
                           : "The monitor no longer shows its own volume overlay.");
            } else {
                self->settings->setOSDInfo(
                    german ? "Dieser Monitor unterstützt das Ausblenden nicht."
                           : "This monitor does not support hiding its overlay.");
            }
        });
    });
}

void AppDelegate::noteOSDSent(const std::shared_ptr<DDCMonitor>& monitor, bool hidden) {
    const bool known =
        std::find(osdHiddenOn_.begin(), osdHiddenOn_.end(), monitor) != osdHiddenOn_.end();
    if (hidden && !known) {
        osdHiddenOn_.push_back(monitor);
    } else if (!hidden && known) {
        std::erase(osdHiddenOn_, monitor);
    }
}

void AppDelegate::restoreOSD() {
    if (osdHiddenOn_.empty()) {
        return;
    }
    // Quitting waits for the writes and everything queued before them, but a monitor that hangs
    // must not keep the application from ending; the job owns its monitors, so it may finish
    // after the wait has given up.
    ddcQueue->syncFor(kTerminationWriteTimeout, [monitors = osdHiddenOn_] {
        for (const auto& monitor : monitors) {
            monitor->write(kVCPOSD, kOSDShown);
        }
    });
}

} // namespace varnu
