#include "platform/linux/input/VolumeKeyEvents.h"

#include "app/VolumeKeys.h"
#include "platform/linux/input/ModifierTracker.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

// What the tap makes of a key event is what the core reads back from it.
TEST(VolumeKeyEvents, EveryVolumeKeyEventReachesTheCoreAsTheSameKeyAndState) {
    struct Case {
        std::uint16_t code;
        std::int32_t value;
        std::int64_t coreKey;
    };
    const Case cases[] = {
        {KEY_VOLUMEUP, kKeyPressed, kKeyTypeSoundUp},
        {KEY_VOLUMEUP, kKeyRepeated, kKeyTypeSoundUp},
        {KEY_VOLUMEUP, kKeyReleased, kKeyTypeSoundUp},
        {KEY_VOLUMEDOWN, kKeyPressed, kKeyTypeSoundDown},
        {KEY_VOLUMEDOWN, kKeyReleased, kKeyTypeSoundDown},
        {KEY_MUTE, kKeyPressed, kKeyTypeMute},
        {KEY_MUTE, kKeyRepeated, kKeyTypeMute},
    };
    constexpr std::int64_t kStepSetting = 6;
    for (const auto& [code, value, coreKey] : cases) {
        for (auto modifiers : {kShiftModifierFlag, kShiftModifierFlag | kAlternateModifierFlag}) {
            const auto event = systemDefinedEvent(code, value, modifiers);
            ASSERT_TRUE(event) << code;
            EXPECT_EQ(volumeKeyCode(*event), coreKey) << code;
            EXPECT_EQ(isKeyDown(event->data1), value != kKeyReleased) << code << " " << value;
            EXPECT_EQ((event->data1 & kAuxKeyRepeatFlag) != 0, value == kKeyRepeated);
            // Shift and Alt together are the core's Shift and Option: the fine step.
            EXPECT_EQ(chooseStep(event->modifierFlags, kStepSetting) == kFineStep,
                      modifiers != kShiftModifierFlag);
        }
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
