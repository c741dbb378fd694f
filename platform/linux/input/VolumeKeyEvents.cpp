#include "platform/linux/input/VolumeKeyEvents.h"

#include <linux/input-event-codes.h>

namespace varnu::linux_backend {
namespace {

std::optional<std::int64_t> auxKeyType(std::uint16_t code) {
    switch (code) {
    case KEY_VOLUMEUP:
        return kSoundUpKeyType;
    case KEY_VOLUMEDOWN:
        return kSoundDownKeyType;
    case KEY_MUTE:
        return kMuteKeyType;
    default:
        return std::nullopt;
    }
}

} // namespace

bool isVolumeKey(std::uint16_t code) {
    return auxKeyType(code).has_value();
}

std::uint64_t modifierFlag(std::uint16_t code) {
    switch (code) {
    case KEY_LEFTSHIFT:
    case KEY_RIGHTSHIFT:
        return kShiftModifierFlag;
    case KEY_LEFTCTRL:
    case KEY_RIGHTCTRL:
        return kControlModifierFlag;
    case KEY_LEFTALT:
    case KEY_RIGHTALT:
        return kAlternateModifierFlag;
    case KEY_LEFTMETA:
    case KEY_RIGHTMETA:
        return kCommandModifierFlag;
    default:
        return 0;
    }
}

std::optional<SystemDefinedEvent> systemDefinedEvent(std::uint16_t code, std::int32_t value,
                                                     std::uint64_t modifierFlags) {
    auto keyType = auxKeyType(code);
    if (!keyType) {
        return std::nullopt;
    }
    std::int64_t state = value == kKeyReleased ? kAuxKeyStateUp : kAuxKeyStateDown;
    std::int64_t flags = value == kKeyRepeated ? kAuxKeyRepeatFlag : 0;
    return SystemDefinedEvent{
        .type = kCGEventSystemDefined,
        .subtype = kAuxControlButtonsSubtype,
        .data1 = (*keyType << 16) | (state << 8) | flags,
        .modifierFlags = modifierFlags,
    };
}

} // namespace varnu::linux_backend
