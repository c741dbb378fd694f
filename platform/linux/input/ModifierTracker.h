#pragma once

// The modifier keys held on any keyboard, for the modifier flags of a volume key's event.
// Implements: per-device tracking of Shift, Control, Alt and Super (left and right), reset from a
// device's own key state after it is opened or resynchronised.
// Does not implement: lock keys, latched or locked modifiers of a keyboard layout.

#include <cstdint>
#include <map>
#include <span>

namespace varnu::linux_backend {

using InputDeviceId = std::uint32_t;

class ModifierTracker {
public:
    // A key event of the device; anything but a modifier is ignored.
    void update(InputDeviceId device, std::uint16_t code, std::int32_t value);
    // The device's modifiers are exactly those among the held keys.
    void reset(InputDeviceId device, std::span<const std::uint16_t> heldKeys);
    void forget(InputDeviceId device);

    std::uint64_t flags() const;

private:
    // Per device, the held modifier keys as bits of their position in the modifier list.
    std::map<InputDeviceId, std::uint8_t> held_;
};

} // namespace varnu::linux_backend
