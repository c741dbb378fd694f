// Arbitrary sequences of key events, resets and departures on several keyboards: the modifier
// flags always agree with the keys the events say are held, and every volume key's event
// translates into a system-defined event that the core reads back as the same key and state.

#include "app/VolumeKeys.h"
#include "platform/linux/input/ModifierTracker.h"
#include "platform/linux/input/VolumeKeyEvents.h"

#include <cstdint>
#include <cstdlib>
#include <fuzzer/FuzzedDataProvider.h>
#include <map>
#include <set>
#include <vector>

namespace {

using namespace varnu;
using namespace varnu::linux_backend;

enum class Step { Key, Reset, Forget, kMaxValue = Forget };

constexpr std::uint16_t kNotAModifier = KEY_A;

// Mostly the codes and values that mean something, sometimes anything.
std::uint16_t keyCode(FuzzedDataProvider& input) {
    switch (input.ConsumeIntegralInRange(0, 2)) {
    case 0:
        return input.PickValueInArray(kModifierKeys);
    case 1:
        return input.PickValueInArray(kVolumeKeys);
    default:
        return input.ConsumeIntegral<std::uint16_t>();
    }
}

std::int32_t keyValue(FuzzedDataProvider& input) {
    return input.ConsumeBool() ? input.ConsumeIntegralInRange(kKeyReleased, kKeyRepeated)
                               : input.ConsumeIntegral<std::int32_t>();
}

std::uint64_t expectedFlags(const std::map<InputDeviceId, std::set<std::uint16_t>>& held) {
    std::uint64_t flags = 0;
    for (const auto& [device, keys] : held) {
        for (auto code : keys) {
            flags |= modifierFlag(code);
        }
    }
    return flags;
}

void checkTranslation(std::uint16_t code, std::int32_t value, std::uint64_t flags) {
    const auto event = systemDefinedEvent(code, value, flags);
    if (event.has_value() != isVolumeKey(code)) {
        std::abort();
    }
    if (!event) {
        return;
    }
    const auto keyType = volumeKeyCode(*event);
    const std::int64_t expectedType = code == KEY_VOLUMEUP     ? kKeyTypeSoundUp
                                      : code == KEY_VOLUMEDOWN ? kKeyTypeSoundDown
                                                               : kKeyTypeMute;
    if (keyType != expectedType || isKeyDown(event->data1) != (value != kKeyReleased) ||
        ((event->data1 & kAuxKeyRepeatFlag) != 0) != (value == kKeyRepeated) ||
        event->modifierFlags != flags) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    ModifierTracker tracker;
    std::map<InputDeviceId, std::set<std::uint16_t>> held;

    while (input.remaining_bytes() > 0) {
        const auto device = input.ConsumeBool() ? input.ConsumeIntegralInRange<InputDeviceId>(0, 3)
                                                : input.ConsumeIntegral<InputDeviceId>();
        switch (input.ConsumeEnum<Step>()) {
        case Step::Key: {
            const auto code = keyCode(input);
            const auto value = keyValue(input);
            tracker.update(device, code, value);
            if (modifierFlag(code) != 0) {
                if (value == kKeyReleased) {
                    held[device].erase(code);
                } else {
                    held[device].insert(code);
                }
            }
            checkTranslation(code, value, tracker.flags());
            break;
        }
        case Step::Reset: {
            std::vector<std::uint16_t> keys(input.ConsumeIntegralInRange<std::size_t>(0, 6));
            for (auto& key : keys) {
                key = input.ConsumeBool() ? kNotAModifier : keyCode(input);
            }
            tracker.reset(device, keys);
            auto& deviceKeys = held[device];
            deviceKeys.clear();
            for (auto key : keys) {
                if (modifierFlag(key) != 0) {
                    deviceKeys.insert(key);
                }
            }
            break;
        }
        case Step::Forget:
            tracker.forget(device);
            held.erase(device);
            break;
        }
        if (tracker.flags() != expectedFlags(held)) {
            std::abort();
        }
    }
    return 0;
}
