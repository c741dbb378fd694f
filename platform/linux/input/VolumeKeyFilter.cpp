#include "platform/linux/input/VolumeKeyFilter.h"

#include <algorithm>
#include <linux/input-event-codes.h>

namespace varnu::linux_backend {

VolumeKeyFilter::VolumeKeyFilter(KeyEventSink& sink, TapCallbackChannel& callback,
                                 bool deliversSystemDefined)
    : sink_(sink)
    , callback_(callback)
    , deliversSystemDefined_(deliversSystemDefined) {}

VolumeKeyFilter::~VolumeKeyFilter() {
    for (auto& [id, device] : devices_) {
        if (device.undecided) {
            device.undecided->decision->abandon();
        }
    }
}

void VolumeKeyFilter::handle(InputDeviceId device, const InputEvent& event, Clock::time_point now) {
    auto& state = devices_[device];
    if (state.undecided) {
        state.behind.push_back(event);
        return;
    }
    process(device, state, event, now, now + kDecisionTimeout);
}

void VolumeKeyFilter::observe(InputDeviceId device, const InputEvent& event) {
    if (event.type == EV_KEY) {
        modifiers_.update(device, event.code, event.value);
    }
}

void VolumeKeyFilter::resetModifiers(InputDeviceId device,
                                     std::span<const std::uint16_t> heldKeys) {
    modifiers_.reset(device, heldKeys);
}

void VolumeKeyFilter::repeatHeldKeys(InputDeviceId device, RepeatRate rate) {
    softRepeat_[device] = rate;
}

void VolumeKeyFilter::removeDevice(InputDeviceId device) {
    if (auto found = devices_.find(device); found != devices_.end()) {
        if (found->second.undecided) {
            found->second.undecided->decision->abandon();
        }
        devices_.erase(found);
    }
    std::erase_if(keyDecisions_, [&](const auto& entry) { return entry.first.first == device; });
    std::erase_if(held_, [&](const HeldKey& key) { return key.device == device; });
    softRepeat_.erase(device);
    modifiers_.forget(device);
}

void VolumeKeyFilter::process(InputDeviceId device, Device& state, const InputEvent& event,
                              Clock::time_point now, Clock::time_point deadline) {
    if (event.type == EV_KEY && isVolumeKey(event.code)) {
        processVolumeKey(device, state, event, now, deadline);
        return;
    }
    observe(device, event);
    sink_.emit(device, event);
}

void VolumeKeyFilter::processVolumeKey(InputDeviceId device, Device& state, const InputEvent& event,
                                       Clock::time_point now, Clock::time_point deadline) {
    auto key = std::make_pair(device, event.code);
    if (event.value == kKeyPressed) {
        if (!asksCallback()) {
            keyDecisions_[key] = TapDecision::Pass;
            sink_.emit(device, event);
            return;
        }
        auto tapped = systemDefinedEvent(event.code, event.value, modifiers_.flags());
        auto within = std::max(std::chrono::floor<std::chrono::milliseconds>(deadline - now),
                               std::chrono::milliseconds(0));
        state.undecided =
            Undecided{event, callback_.ask({kCGEventSystemDefined, tapped}, within), now, deadline};
        return;
    }
    // A repeat or release follows its press; one whose press was never seen (held since before
    // the grab) passes.
    auto found = keyDecisions_.find(key);
    auto decision = found == keyDecisions_.end() ? TapDecision::Pass : found->second;
    if (event.value == kKeyReleased) {
        if (found != keyDecisions_.end()) {
            keyDecisions_.erase(found);
        }
        std::erase_if(held_, [&](const HeldKey& held) {
            return held.device == device && held.code == event.code;
        });
    }
    if (decision == TapDecision::Pass) {
        sink_.emit(device, event);
        return;
    }
    // A held mute key mutes or unmutes once. Where the filter repeats the device's keys itself,
    // the kernel's repeats (if any came) would step twice.
    if (event.value == kKeyRepeated && (event.code == KEY_MUTE || softRepeat_.contains(device))) {
        return;
    }
    // The core steps the level on every repeat; its answer cannot undo the swallowed press.
    tellCore(event.code, event.value);
}

void VolumeKeyFilter::tellCore(std::uint16_t code, std::int32_t value) {
    if (asksCallback()) {
        callback_.tell(
            {kCGEventSystemDefined, systemDefinedEvent(code, value, modifiers_.flags())});
    }
}

void VolumeKeyFilter::repeatHeldKeys(Clock::time_point now) {
    for (auto& key : held_) {
        if (now < key.nextRepeat) {
            continue;
        }
        tellCore(key.code, kKeyRepeated);
        // A reader that was late does not catch up with a burst of steps.
        key.nextRepeat = std::max(key.nextRepeat + softRepeat_[key.device].period,
                                  now + softRepeat_[key.device].period / 2);
    }
}

void VolumeKeyFilter::settle(Clock::time_point now) {
    for (auto& [device, state] : devices_) {
        if (!state.undecided) {
            continue;
        }
        auto& undecided = *state.undecided;
        if (auto decision = undecided.decision->result()) {
            // A main thread that keeps the keyboard waiting near the bound is as good as none.
            slowAnswers_ = now - undecided.asked >= kSlowAnswer ? slowAnswers_ + 1 : 0;
            if (slowAnswers_ >= kSlowAnswersInARow) {
                switchOff();
            }
            conclude(device, state, *decision, now);
        } else if (now >= undecided.deadline && undecided.decision->abandon()) {
            switchOff();
            conclude(device, state, TapDecision::Pass, now);
        }
    }
    repeatHeldKeys(now);
}

void VolumeKeyFilter::switchOff() {
    slowAnswers_ = 0;
    if (enabled_.exchange(false)) {
        callback_.tell({kCGEventTapDisabledByTimeout, std::nullopt});
    }
}

void VolumeKeyFilter::conclude(InputDeviceId device, Device& state, TapDecision decision,
                               Clock::time_point now) {
    auto press = state.undecided->press;
    auto pressedAt = state.undecided->asked;
    auto deadline = state.undecided->deadline;
    state.undecided.reset();
    keyDecisions_[{device, press.code}] = decision;
    if (decision == TapDecision::Pass) {
        sink_.emit(device, press);
    } else if (auto rate = softRepeat_.find(device);
               rate != softRepeat_.end() && press.code != KEY_MUTE) {
        held_.push_back({device, press.code, pressedAt + rate->second.delay});
    }
    while (!state.undecided && !state.behind.empty()) {
        auto next = state.behind.front();
        state.behind.pop_front();
        process(device, state, next, now, deadline);
    }
}

std::optional<VolumeKeyFilter::Clock::time_point> VolumeKeyFilter::nextDeadline() const {
    std::optional<Clock::time_point> earliest;
    auto consider = [&](Clock::time_point due) {
        if (!earliest || due < *earliest) {
            earliest = due;
        }
    };
    for (const auto& [device, state] : devices_) {
        if (state.undecided) {
            consider(state.undecided->deadline);
        }
    }
    for (const auto& key : held_) {
        consider(key.nextRepeat);
    }
    return earliest;
}

bool VolumeKeyFilter::isWaiting(InputDeviceId device) const {
    auto found = devices_.find(device);
    return found != devices_.end() && found->second.undecided.has_value();
}

} // namespace varnu::linux_backend
