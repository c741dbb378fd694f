#include "app/AppDelegate.h"
#include "audio/Audio.h"
#include "ddc/VCP.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <algorithm>
#include <sstream>

namespace varnu {

namespace {

// Time the monitor gets to act on the overlay change before it is asked how it went.
constexpr std::uint32_t kOSDSettleMicroseconds = 100'000;

std::vector<std::string> identitiesIn(const std::string& text) {
    std::vector<std::string> identities;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && identities.size() < kMaxHiddenOverlays) {
            identities.push_back(line);
        }
    }
    return identities;
}

std::string textOf(const std::vector<std::string>& identities) {
    std::string text;
    for (const auto& identity : identities) {
        text += identity + '\n';
    }
    return text;
}

} // namespace

void AppDelegate::applyOSD() {
    // Only the latest setting's outcome is shown: an earlier one may finish after it.
    const std::uint64_t setting = ++overlaySettings_;
    std::shared_ptr<DDCMonitor> monitor;
    if (auto output = currentOutput();
        output && !Audio::hasNativeVolume(*services_.audio, output->id)) {
        monitor = monitorFor(output);
    }
    if (!monitor) {
        overlaySetOn_.clear();
        settings->setOSDInfo(std::string());
        return;
    }
    overlaySetOn_ = monitor->identity();
    const bool hide = settings->hideMonitorOSD();
    noteOSDSent(monitor, hide);
    ddcQueue->async([monitor, hide, setting, weak = weak_from_this(), pause = services_.pause,
                     mainQueue = services_.mainQueue] {
        monitor->write(kVCPOSD, hide ? kOSDHidden : kOSDShown);
        pause->usleep(kOSDSettleMicroseconds);
        const auto reading = monitor->read(kVCPOSD);
        mainQueue->async([weak, hide, setting, answered = reading.has_value(),
                          current = reading ? reading->current : 0] {
            auto self = weak.lock();
            if (!self || setting != self->overlaySettings_) {
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
    // A line of its own in the store; a monitor that gives none cannot be recorded.
    const auto& identity = monitor->identity();
    if (identity.empty() || identity.find('\n') != std::string::npos) {
        return;
    }
    const auto found = std::find(osdHiddenOn_.begin(), osdHiddenOn_.end(), identity);
    if (hidden == (found != osdHiddenOn_.end())) {
        return;
    }
    if (!hidden) {
        osdHiddenOn_.erase(found);
    } else {
        osdHiddenOn_.push_back(identity);
        if (osdHiddenOn_.size() > kMaxHiddenOverlays) {
            osdHiddenOn_.erase(osdHiddenOn_.begin());
        }
    }
    // Written at once, so that a crash leaves the record of what to give back.
    defaults->setString(kHiddenOverlaysKey, textOf(osdHiddenOn_));
}

void AppDelegate::recallHiddenOverlays() {
    if (auto recorded = defaults->string(kHiddenOverlaysKey)) {
        osdHiddenOn_ = identitiesIn(*recorded);
        leftOverHidden_ = osdHiddenOn_;
    }
    giveBackLeftOverOverlays();
}

void AppDelegate::giveBackLeftOverOverlays() {
    if (leftOverHidden_.empty()) {
        return;
    }
    std::shared_ptr<DDCMonitor> inUse;
    if (auto output = currentOutput();
        output && !Audio::hasNativeVolume(*services_.audio, output->id)) {
        inUse = monitorFor(output);
    } else {
        monitorFor(std::nullopt);
    }
    for (const auto& monitor : monitors) {
        const auto found =
            std::find(leftOverHidden_.begin(), leftOverHidden_.end(), monitor->identity());
        if (found == leftOverHidden_.end()) {
            continue;
        }
        leftOverHidden_.erase(found);
        // The overlay is set on the monitor in use as at every start: hidden or given back.
        if (monitor == inUse) {
            continue;
        }
        noteOSDSent(monitor, false);
        ddcQueue->async([monitor] { monitor->write(kVCPOSD, kOSDShown); });
    }
}

void AppDelegate::restoreOSD() {
    if (osdHiddenOn_.empty()) {
        return;
    }
    // The monitors there are now, each once: an identity whose monitor is gone stays recorded
    // for the next start.
    monitorFor(std::nullopt);
    std::vector<std::shared_ptr<DDCMonitor>> hidden;
    for (const auto& monitor : monitors) {
        if (std::find(osdHiddenOn_.begin(), osdHiddenOn_.end(), monitor->identity()) !=
            osdHiddenOn_.end()) {
            hidden.push_back(monitor);
        }
    }
    for (const auto& monitor : hidden) {
        noteOSDSent(monitor, false);
    }
    if (hidden.empty()) {
        return;
    }
    // Quitting waits for the writes and everything queued before them, but a monitor that hangs
    // must not keep the application from ending; the job owns its monitors, so it may finish
    // after the wait has given up.
    ddcQueue->syncFor(kTerminationWriteTimeout, [hidden = std::move(hidden)] {
        for (const auto& monitor : hidden) {
            monitor->write(kVCPOSD, kOSDShown);
        }
    });
}

} // namespace varnu
