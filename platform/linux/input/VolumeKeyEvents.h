#pragma once

// The evdev events the volume-key tap reads, and the system-defined events the core receives
// for them.
// Implements: recognition of the volume and modifier keys, the translation of a volume key's
// press, repeat or release into the auxiliary-control-button event.
// Does not implement: brightness, playback and other media keys (they pass untouched and never
// reach the core).

#include "platform/EventTap.h"

#include <array>
#include <cstdint>
#include <linux/input-event-codes.h>
#include <optional>

namespace varnu::linux_backend {

struct InputEvent {
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::int32_t value = 0;

    friend bool operator==(const InputEvent&, const InputEvent&) = default;
};

// The values of an EV_KEY event.
constexpr std::int32_t kKeyReleased = 0;
constexpr std::int32_t kKeyPressed = 1;
constexpr std::int32_t kKeyRepeated = 2;

// The system-defined event the core reads volume keys from.
constexpr std::int64_t kAuxControlButtonsSubtype = 8;
constexpr std::int64_t kSoundUpKeyType = 0;
constexpr std::int64_t kSoundDownKeyType = 1;
constexpr std::int64_t kMuteKeyType = 7;
constexpr std::int64_t kAuxKeyStateDown = 0x0A;
constexpr std::int64_t kAuxKeyStateUp = 0x0B;
constexpr std::int64_t kAuxKeyRepeatFlag = 0x01;

constexpr std::uint64_t kShiftModifierFlag = 0x20000;
constexpr std::uint64_t kControlModifierFlag = 0x40000;
constexpr std::uint64_t kAlternateModifierFlag = 0x80000;
constexpr std::uint64_t kCommandModifierFlag = 0x100000;

inline constexpr std::array<std::uint16_t, 3> kVolumeKeys{KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE};
inline constexpr std::array<std::uint16_t, 8> kModifierKeys{
    KEY_LEFTSHIFT, KEY_RIGHTSHIFT, KEY_LEFTCTRL, KEY_RIGHTCTRL,
    KEY_LEFTALT,   KEY_RIGHTALT,   KEY_LEFTMETA, KEY_RIGHTMETA,
};

bool isVolumeKey(std::uint16_t code);

// The modifier flag a key stands for (left and right alike), or 0.
std::uint64_t modifierFlag(std::uint16_t code);

// The event for a volume key's EV_KEY value, with the modifiers held at that moment; nothing
// for any other key.
std::optional<SystemDefinedEvent> systemDefinedEvent(std::uint16_t code, std::int32_t value,
                                                     std::uint64_t modifierFlags);

} // namespace varnu::linux_backend
