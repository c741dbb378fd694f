#include "platform/linux/input/ModifierTracker.h"

#include "platform/linux/input/VolumeKeyEvents.h"

#include <optional>

namespace varnu::linux_backend {
namespace {

// Left and right keys get their own bits, so releasing one side keeps the other's flag.
std::optional<std::uint8_t> modifierBit(std::uint16_t code) {
    for (std::size_t index = 0; index < kModifierKeys.size(); ++index) {
        if (kModifierKeys[index] == code) {
            return static_cast<std::uint8_t>(1u << index);
        }
    }
    return std::nullopt;
}

} // namespace

void ModifierTracker::update(InputDeviceId device, std::uint16_t code, std::int32_t value) {
    auto bit = modifierBit(code);
    if (!bit) {
        return;
    }
    auto& held = held_[device];
    if (value == kKeyReleased) {
        held = static_cast<std::uint8_t>(held & ~*bit);
    } else {
        held = static_cast<std::uint8_t>(held | *bit);
    }
}

void ModifierTracker::reset(InputDeviceId device, std::span<const std::uint16_t> heldKeys) {
    std::uint8_t held = 0;
    for (auto code : heldKeys) {
        held = static_cast<std::uint8_t>(held | modifierBit(code).value_or(0));
    }
    held_[device] = held;
}

void ModifierTracker::forget(InputDeviceId device) {
    held_.erase(device);
}

std::uint64_t ModifierTracker::flags() const {
    std::uint64_t flags = 0;
    for (const auto& [device, held] : held_) {
        for (std::size_t index = 0; index < kModifierKeys.size(); ++index) {
            if (held & (1u << index)) {
                flags |= modifierFlag(kModifierKeys[index]);
            }
        }
    }
    return flags;
}

} // namespace varnu::linux_backend
