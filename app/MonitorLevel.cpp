#include "app/AppDelegate.h"
#include "ddc/VCP.h"

#include <algorithm>
#include <utility>

namespace varnu {

void AppDelegate::readBackLevel(const std::shared_ptr<DDCMonitor>& monitor,
                                const std::string& uid) {
    // A level read from another monitor says nothing of this one: until it answers, the level is
    // the one stored for the output.
    if (monitor->identity() != levelAskedOf_) {
        volume = storedLevel(uid);
    }
    // Not trusted again until the monitor answers.
    levelAskedOf_ = monitor->identity();
    levelTrusted_ = false;
    const std::uint64_t ticket = ++readingsAsked_;
    readings_.push_back(LevelReading{ticket, uid, monitor, false});
    ddcQueue->async([monitor, ticket, weak = weak_from_this(), mainQueue = services_.mainQueue] {
        const auto reading = monitor->read(kVCPAudioSpeakerVolume);
        mainQueue->async(
            [weak, ticket, level = reading ? std::optional(reading->current) : std::nullopt] {
                if (auto self = weak.lock()) {
                    self->levelRead(ticket, level);
                }
            });
    });
}

bool AppDelegate::awaitingReading(const std::string& uid, const std::string& identity) const {
    // The answers come back in the order the readings were asked for, so the last one still on
    // its way is the latest.
    return !readings_.empty() && readings_.back().ticket == readingsAsked_ &&
           readings_.back().uid == uid && readings_.back().monitor->identity() == identity;
}

void AppDelegate::levelRead(std::uint64_t ticket, std::optional<std::int64_t> level) {
    const auto found =
        std::find_if(readings_.begin(), readings_.end(),
                     [&](const LevelReading& each) { return each.ticket == ticket; });
    if (found == readings_.end()) {
        return;
    }
    const LevelReading reading = std::move(*found);
    readings_.erase(found);

    const auto output = currentOutput();
    const auto inUse = monitorInUse(output);
    const bool current = !reading.departed && inUse && output->uid == reading.uid &&
                         inUse->identity() == reading.monitor->identity();
    if (current) {
        // The monitor's own reading wins over the stored level, raw as it comes; a failed reading
        // leaves the level Varnu knows.
        if (level) {
            volume = *level;
        }
        levelKnown(inUse->identity());
        if (statusMenu_) {
            statusMenu_->invalidate();
        }
    }
    // A later reading is on its way: the keys wait for that one.
    if (!readings_.empty()) {
        return;
    }
    auto keys = std::exchange(waitingKeys_, {});
    if (keys.empty() || reading.departed) {
        return;
    }
    if (current) {
        sendKeys(output->uid, inUse, keys, VolumeState{volume, muted}, true);
        return;
    }
    // The output no longer plays through the monitor (its audio server went, another output
    // took over): the keys still go to the monitor they were pressed for, from what it plays.
    sendKeys(reading.uid, reading.monitor, keys,
             VolumeState{level.value_or(storedLevel(reading.uid)), mutedBeforeWaitingKeys_}, false);
}

void AppDelegate::levelKnown(const std::string& identity) {
    levelAskedOf_ = identity;
    levelTrusted_ = true;
    if (quietTimer_) {
        quietTimer_->cancel();
    }
    quietTimer_ = services_.mainQueue->asyncAfter(kQuietPeriod, [weak = weak_from_this()] {
        if (auto self = weak.lock()) {
            self->levelTrusted_ = false;
        }
    });
}

void AppDelegate::setUpReturningMonitor() {
    const auto output = currentOutput();
    const auto monitor = monitorInUse(output);
    if (!monitor || monitor->identity() == levelAskedOf_) {
        return;
    }
    readBackLevel(monitor, output->uid);
    if (monitor->identity() != overlaySetOn_) {
        applyOSD();
    }
}

void AppDelegate::forgetDepartedMonitors() {
    const auto listed = [&](const std::string& identity) {
        return std::any_of(monitors.begin(), monitors.end(),
                           [&](const auto& monitor) { return monitor->identity() == identity; });
    };
    if (!levelAskedOf_.empty() && !listed(levelAskedOf_)) {
        levelAskedOf_.clear();
        levelTrusted_ = false;
    }
    for (auto& reading : readings_) {
        reading.departed = reading.departed || !listed(reading.monitor->identity());
    }
}

} // namespace varnu
