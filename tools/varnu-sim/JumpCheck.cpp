#include "tools/varnu-sim/JumpCheck.h"

#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"
#include "settings/SettingsKeys.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <algorithm>
#include <array>
#include <span>
#include <utility>

namespace varnu::sim {

namespace {

constexpr std::array<std::uint8_t, kGetVCPFeatureRequestSize> kLevelRequest{
    kDDCLengthFlag | kGetVCPFeaturePayloadLength, kGetVCPFeature, kVCPAudioSpeakerVolume,
    kGetVCPFeatureChecksumSeed ^ kVCPAudioSpeakerVolume};

bool isLevelRequest(const std::vector<std::uint8_t>& bytes) {
    return std::equal(bytes.begin(), bytes.end(), kLevelRequest.begin(), kLevelRequest.end());
}

// The level a Set VCP Feature for the speaker volume carries, if it is one.
std::optional<std::int64_t> levelSet(const std::vector<std::uint8_t>& bytes) {
    if (bytes.size() != kSetVCPFeatureRequestSize || bytes[1] != kSetVCPFeature ||
        bytes[2] != kVCPAudioSpeakerVolume) {
        return std::nullopt;
    }
    return std::int64_t{bytes[3]} << 8 | bytes[4];
}

bool isLevelReply(const std::vector<std::uint8_t>& bytes) {
    return bytes.size() == kGetVCPFeatureReplySize &&
           isVCPReplyTo(kVCPAudioSpeakerVolume,
                        std::span<const std::uint8_t, kGetVCPFeatureReplySize>(
                            bytes.data(), kGetVCPFeatureReplySize));
}

std::int64_t onTheWire(std::int64_t level) {
    return std::clamp(level, kMinimumLevel, kMaximumLevel);
}

// Within one step, on the range Varnu sends; a step of any size or sign.
bool withinStep(std::int64_t level, std::int64_t from, std::int64_t step) {
    const std::int64_t distance = onTheWire(level) - onTheWire(from);
    const std::int64_t reach = step < -kMaximumLevel ? kMaximumLevel : (step < 0 ? -step : step);
    return distance <= reach && -distance <= reach;
}

} // namespace

void JumpCheck::sent(const std::optional<Target>& target, const std::string& uid,
                     std::int64_t keyCode, std::int64_t step, std::int64_t level,
                     std::int64_t now) {
    if (keyCode == kKeyTypeMute || !target) {
        return;
    }
    const auto played = target->monitor->control(kVCPAudioSpeakerVolume);
    if (!played || !target->monitor->isConnected() || target->refusesWrites) {
        return;
    }
    auto& watched = watched_[target->monitor.get()];
    const bool fine = withinStep(level, played->current, step) ||
                      (watched.onItsWay && withinStep(level, *watched.onItsWay, step)) ||
                      (watched.unreadable && (withinStep(level, knownLevel(uid), step) ||
                                              changedBehindVarnu_.contains(uid))) ||
                      (watched.turnedUnseen && watched.lastTransfer &&
                       now - *watched.lastTransfer < kQuietPeriod.count());
    watched.onItsWay = onTheWire(level);
    if (!fine && !jump_) {
        jump_ = "a jump: key " + keyName(keyCode) + " sent " + std::to_string(onTheWire(level)) +
                " to monitor #" + std::to_string(target->number) + ", which played " +
                std::to_string(played->current) + " (the step is " + std::to_string(step) + ")";
    }
}

void JumpCheck::stored(const std::string& uid, std::int64_t level) {
    known_[uid] = level;
    changedBehindVarnu_.erase(uid);
}

void JumpCheck::put(const std::string& uid, const DefaultsValue& value, bool behindVarnu) {
    known_[uid] = integerValue(value).value_or(kDefaultVolume);
    if (behindVarnu) {
        changedBehindVarnu_.insert(uid);
    }
}

std::int64_t JumpCheck::knownLevel(const std::string& uid) const {
    const auto found = known_.find(uid);
    return found == known_.end() ? kDefaultVolume : found->second;
}

void JumpCheck::transferred(const SimMonitor& monitor, const I2CTransaction& transfer) {
    auto& watched = watched_[&monitor];
    watched.lastTransfer = transfer.timeMilliseconds;
    const bool ok = transfer.status == kIOReturnSuccess;
    if (transfer.direction == I2CDirection::Read) {
        if (std::exchange(watched.askingLevel, false)) {
            const bool answered = ok && isLevelReply(transfer.bytes);
            watched.unreadable = !answered;
            watched.turnedUnseen = watched.turnedUnseen && !answered;
        }
        return;
    }
    if (isLevelRequest(transfer.bytes)) {
        watched.askingLevel = ok;
        watched.unreadable = watched.unreadable || !ok;
    } else if (const auto level = levelSet(transfer.bytes)) {
        if (watched.onItsWay == *level) {
            watched.onItsWay.reset();
        }
        // The monitor plays what Varnu sent, whatever its buttons did before.
        watched.turnedUnseen = watched.turnedUnseen && !ok;
    }
}

void JumpCheck::turned(const SimMonitor& monitor, bool changed) {
    if (changed) {
        watched_[&monitor].turnedUnseen = true;
    }
}

std::optional<std::string> JumpCheck::takeJump() {
    if (!jump_ || jumpTaken_) {
        return std::nullopt;
    }
    jumpTaken_ = true;
    return jump_;
}

} // namespace varnu::sim
