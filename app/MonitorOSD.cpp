#include "app/AppDelegate.h"
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

} // namespace

void AppDelegate::applyOSD() {
    // Only the latest setting's outcome is shown: an earlier one may finish after it.
    const std::uint64_t setting = ++overlaySettings_;
    const auto monitor = monitorInUse(currentOutput());
    if (!monitor) {
        overlaySetOn_.clear();
        settings->setOSDInfo(std::string());
        return;
    }
    overlaySetOn_ = monitor->identity();
    const bool hide = settings->hideMonitorOSD();
    std::uint64_t giveBack = 0;
    if (hide) {
        noteOSDHidden(monitor);
    } else {
        giveBack = noteOSDGivingBack(monitor);
    }
    ddcQueue->async([monitor, hide, giveBack, setting, weak = weak_from_this(),
                     pause = services_.pause, mainQueue = services_.mainQueue,
                     giveBacks = giveBacks_] {
        const bool taken = monitor->write(kVCPOSD, hide ? kOSDHidden : kOSDShown);
        if (giveBack != 0) {
            giveBacks->add({giveBack, taken});
        }
        pause->usleep(kOSDSettleMicroseconds);
        const auto reading = monitor->read(kVCPOSD);
        mainQueue->async([weak, hide, setting, answered = reading.has_value(),
                          current = reading ? reading->current : 0] {
            auto self = weak.lock();
            if (!self) {
                return;
            }
            self->settleGiveBacks();
            if (setting != self->overlaySettings_) {
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

void AppDelegate::noteOSDHidden(const std::shared_ptr<DDCMonitor>& monitor) {
    // A line of its own in the store; a monitor that gives none cannot be recorded.
    const auto& identity = monitor->identity();
    if (identity.empty() || identity.find('\n') != std::string::npos) {
        return;
    }
    if (auto* hidden = hiddenOverlayOf(identity)) {
        // A give-back still on its way no longer settles anything.
        hidden->givingBack = 0;
        return;
    }
    osdHiddenOn_.push_back(HiddenOverlay{identity, 0});
    if (osdHiddenOn_.size() > kMaxHiddenOverlays) {
        osdHiddenOn_.erase(osdHiddenOn_.begin());
    }
    recordHiddenOverlays();
}

AppDelegate::HiddenOverlay* AppDelegate::hiddenOverlayOf(const std::string& identity) {
    const auto found =
        std::find_if(osdHiddenOn_.begin(), osdHiddenOn_.end(),
                     [&](const HiddenOverlay& hidden) { return hidden.identity == identity; });
    return found == osdHiddenOn_.end() ? nullptr : &*found;
}

std::uint64_t AppDelegate::noteOSDGivingBack(const std::shared_ptr<DDCMonitor>& monitor) {
    auto* hidden = hiddenOverlayOf(monitor->identity());
    if (!hidden) {
        return 0;
    }
    hidden->givingBack = ++giveBacksQueued_;
    return hidden->givingBack;
}

void AppDelegate::queueGiveBack(const std::shared_ptr<DDCMonitor>& monitor) {
    ddcQueue->async([monitor, giveBack = noteOSDGivingBack(monitor), weak = weak_from_this(),
                     mainQueue = services_.mainQueue, giveBacks = giveBacks_] {
        const bool taken = monitor->write(kVCPOSD, kOSDShown);
        if (giveBack == 0) {
            return;
        }
        giveBacks->add({giveBack, taken});
        mainQueue->async([weak] {
            if (auto self = weak.lock()) {
                self->settleGiveBacks();
            }
        });
    });
}

void AppDelegate::settleGiveBacks() {
    bool struck = false;
    for (const auto& outcome : giveBacks_->take()) {
        const auto found = std::find_if(
            osdHiddenOn_.begin(), osdHiddenOn_.end(),
            [&](const HiddenOverlay& hidden) { return hidden.givingBack == outcome.ticket; });
        if (found == osdHiddenOn_.end()) {
            continue;
        }
        if (outcome.taken) {
            osdHiddenOn_.erase(found);
            struck = true;
        } else {
            found->givingBack = 0;
        }
    }
    if (struck) {
        recordHiddenOverlays();
    }
}

void AppDelegate::recordHiddenOverlays() {
    // Written at once, so that a crash leaves the record of what to give back.
    std::string text;
    for (const auto& hidden : osdHiddenOn_) {
        text += hidden.identity + '\n';
    }
    defaults->setString(kHiddenOverlaysKey, text);
}

void AppDelegate::recallHiddenOverlays() {
    if (auto recorded = defaults->string(kHiddenOverlaysKey)) {
        leftOverHidden_ = identitiesIn(*recorded);
        for (const auto& identity : leftOverHidden_) {
            osdHiddenOn_.push_back(HiddenOverlay{identity, 0});
        }
    }
    giveBackLeftOverOverlays();
}

void AppDelegate::giveBackLeftOverOverlays() {
    if (leftOverHidden_.empty()) {
        return;
    }
    const auto inUse = monitorInUse(currentOutput());
    monitorFor(std::nullopt);
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
        queueGiveBack(monitor);
    }
}

void AppDelegate::restoreOSD() {
    if (osdHiddenOn_.empty()) {
        return;
    }
    // The monitors there are now, each once: those whose give-back is already queued are waited
    // for, the others are sent theirs. Whatever does not take it stays recorded for the next
    // start, as does an identity whose monitor is gone.
    monitorFor(std::nullopt);
    std::vector<std::pair<std::shared_ptr<DDCMonitor>, std::uint64_t>> owed;
    bool queued = false;
    for (const auto& monitor : monitors) {
        const auto* hidden = hiddenOverlayOf(monitor->identity());
        if (!hidden) {
            continue;
        }
        if (hidden->givingBack != 0) {
            queued = true;
        } else {
            owed.emplace_back(monitor, noteOSDGivingBack(monitor));
        }
    }
    if (owed.empty() && !queued) {
        return;
    }
    // Quitting waits for the writes and everything queued before them, but a monitor that hangs
    // must not keep the application from ending; the job owns its monitors, so it may finish
    // after the wait has given up.
    ddcQueue->syncFor(kTerminationWriteTimeout, [owed = std::move(owed), giveBacks = giveBacks_] {
        for (const auto& [monitor, giveBack] : owed) {
            giveBacks->add({giveBack, monitor->write(kVCPOSD, kOSDShown)});
        }
    });
    settleGiveBacks();
}

} // namespace varnu
