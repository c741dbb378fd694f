#include "platform/linux/devices-service/VolumeKeyStrokes.h"

#include "platform/linux/input/VolumeKeyEvents.h"

#include <array>
#include <utility>

namespace varnu::linux_backend::devices {
namespace {

constexpr std::array<std::pair<VolumeKey, std::uint16_t>, 3> kKeyCodes{{
    {VolumeKey::Up, KEY_VOLUMEUP},
    {VolumeKey::Down, KEY_VOLUMEDOWN},
    {VolumeKey::Mute, KEY_MUTE},
}};
constexpr std::array<std::pair<KeyAction, std::int32_t>, 3> kKeyValues{{
    {KeyAction::Release, kKeyReleased},
    {KeyAction::Press, kKeyPressed},
    {KeyAction::Repeat, kKeyRepeated},
}};
constexpr std::array<std::pair<std::uint8_t, std::uint64_t>, 4> kModifiers{{
    {kShiftHeld, kShiftModifierFlag},
    {kControlHeld, kControlModifierFlag},
    {kAltHeld, kAlternateModifierFlag},
    {kSuperHeld, kCommandModifierFlag},
}};

template <typename Table, typename Key>
auto lookUp(const Table& table, Key key) {
    for (const auto& [from, to] : table) {
        if (from == key) {
            return to;
        }
    }
    return table.front().second;
}

std::uint8_t modifierBits(std::uint64_t flags) {
    std::uint8_t bits = 0;
    for (const auto& [bit, flag] : kModifiers) {
        bits |= (flags & flag) != 0 ? bit : 0;
    }
    return bits;
}

std::uint64_t modifierFlags(std::uint8_t bits) {
    std::uint64_t flags = 0;
    for (const auto& [bit, flag] : kModifiers) {
        flags |= (bits & bit) != 0 ? flag : 0;
    }
    return flags;
}

} // namespace

SystemDefinedEvent eventOf(const KeyStroke& stroke) {
    return systemDefinedEvent(lookUp(kKeyCodes, stroke.key), lookUp(kKeyValues, stroke.action),
                              modifierFlags(stroke.modifiers))
        .value_or(SystemDefinedEvent{});
}

std::optional<KeyStroke> strokeOf(const SystemDefinedEvent& event) {
    // Whichever stroke makes exactly this event; anything else in it leaves none.
    for (const auto& [key, code] : kKeyCodes) {
        for (const auto& [action, value] : kKeyValues) {
            KeyStroke stroke{key, action, modifierBits(event.modifierFlags)};
            if (eventOf(stroke) == event) {
                return stroke;
            }
        }
    }
    return std::nullopt;
}

} // namespace varnu::linux_backend::devices
