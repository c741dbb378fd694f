#include "platform/linux/input/VolumeKeyEvents.h"

#include "platform/linux/input/ModifierTracker.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

TEST(VolumeKeyEvents, TranslatesVolumeKeysIntoAuxControlButtonEvents) {
    const std::tuple<std::uint16_t, std::int32_t, std::int64_t> cases[] = {
        {KEY_VOLUMEUP, kKeyPressed, 0x000A00},    {KEY_VOLUMEUP, kKeyRepeated, 0x000A01},
        {KEY_VOLUMEUP, kKeyReleased, 0x000B00},   {KEY_VOLUMEDOWN, kKeyPressed, 0x010A00},
        {KEY_VOLUMEDOWN, kKeyReleased, 0x010B00}, {KEY_MUTE, kKeyPressed, 0x070A00},
        {KEY_MUTE, kKeyRepeated, 0x070A01}};
    for (const auto& [code, value, data1] : cases) {
        const auto event = systemDefinedEvent(code, value, 0xA0000);
        ASSERT_TRUE(event) << code;
        EXPECT_EQ(event->data1, data1);
        EXPECT_EQ(event->type, kCGEventSystemDefined);
        EXPECT_EQ(event->subtype, 8);
        EXPECT_EQ(event->modifierFlags, 0xA0000u);
    }
    // Other media keys never reach the core.
    for (std::uint16_t code : {KEY_BRIGHTNESSUP, KEY_PLAYPAUSE, KEY_NEXTSONG, KEY_MICMUTE, KEY_A}) {
        EXPECT_FALSE(systemDefinedEvent(code, kKeyPressed, 0)) << code;
        EXPECT_FALSE(isVolumeKey(code));
    }
}

TEST(ModifierTracker, CombinesTheModifiersHeldOnEveryKeyboard) {
    ModifierTracker tracker;
    tracker.update(1, KEY_LEFTSHIFT, kKeyPressed);
    tracker.update(2, KEY_RIGHTALT, kKeyPressed);
    tracker.update(2, KEY_A, kKeyPressed);
    EXPECT_EQ(tracker.flags(), kShiftModifierFlag | kAlternateModifierFlag);
    // Both shift keys down, one released: still shifted. Repeats keep a key held.
    tracker.update(1, KEY_RIGHTSHIFT, kKeyPressed);
    tracker.update(1, KEY_LEFTSHIFT, kKeyReleased);
    tracker.update(1, KEY_RIGHTSHIFT, kKeyRepeated);
    tracker.forget(2); // a keyboard that went away
    EXPECT_EQ(tracker.flags(), kShiftModifierFlag);
    // After dropped events the device's own state replaces what was tracked.
    const std::vector<std::uint16_t> held{KEY_LEFTCTRL, KEY_RIGHTMETA, KEY_B};
    tracker.reset(1, held);
    EXPECT_EQ(tracker.flags(), kControlModifierFlag | kCommandModifierFlag);
    tracker.reset(1, {});
    EXPECT_EQ(tracker.flags(), 0u);
}

} // namespace
} // namespace varnu::linux_backend
