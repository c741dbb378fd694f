#include "platform/linux/input/EvdevCapabilities.h"

#include <climits>
#include <libevdev/libevdev.h>
#include <linux/uinput.h>
#include <memory>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

struct FreeEvdev {
    void operator()(libevdev* device) const { libevdev_free(device); }
};
using Device = std::unique_ptr<libevdev, FreeEvdev>;

Device makeDevice(const std::string& name, std::vector<unsigned> keys,
                  std::vector<unsigned> axes = {}) {
    Device device(libevdev_new());
    libevdev_set_name(device.get(), name.c_str());
    input_absinfo axis{};
    axis.maximum = 9;
    for (auto code : keys) {
        libevdev_enable_event_code(device.get(), EV_KEY, code, nullptr);
    }
    for (auto code : axes) {
        EXPECT_EQ(libevdev_enable_event_code(device.get(), EV_ABS, code, &axis), 0) << code;
    }
    return device;
}

TEST(EvdevCapabilities, GrabsDevicesWithVolumeKeysWatchesKeyboardsAndLeavesTouchSurfacesAlone) {
    using enum DeviceRole;
    struct Case {
        DeviceRole expected;
        std::string name;
        std::vector<unsigned> keys, axes = {}, relative = {}, switches = {};
    };
    const Case cases[] = {
        {Grab, "Keyboard", {KEY_A, KEY_LEFTSHIFT, KEY_VOLUMEUP, KEY_MUTE}},
        {Grab, "Consumer Control", {KEY_MUTE, KEY_PLAYPAUSE}},
        // The HID Volume usage arrives as ABS_VOLUME on the same node as the volume keys.
        {Grab, "Volume axis", {KEY_VOLUMEUP, KEY_VOLUMEDOWN}, {ABS_VOLUME}},
        {Grab, "Volume and misc", {KEY_MUTE}, {ABS_VOLUME, ABS_MISC}},
        // A keyboard without volume keys is read for its modifiers.
        {Watch, "Plain keyboard", {KEY_A, KEY_RIGHTMETA}},
        {Watch, "Touch strip keyboard", {KEY_LEFTCTRL, KEY_MUTE}, {ABS_X}},
        {Ignore, "Video Bus", {KEY_BRIGHTNESSUP, KEY_BRIGHTNESSDOWN}},
        // Devices with pointing axes keep their buttons, even volume buttons.
        {Ignore, "Tablet", {KEY_VOLUMEUP, KEY_VOLUMEDOWN}, {ABS_X}},
        {Ignore, "Touchscreen", {KEY_VOLUMEUP, BTN_TOUCH}, {ABS_X, ABS_VOLUME, ABS_MT_POSITION_X}},
        {Ignore, "Touchpad", {KEY_MUTE, BTN_LEFT}, {ABS_MT_POSITION_X}},
        {Ignore, "Width strip", {KEY_VOLUMEUP}, {ABS_TOOL_WIDTH}},
        {Ignore, "Gamepad", {KEY_VOLUMEUP, BTN_SOUTH}, {ABS_HAT0X, ABS_HAT0Y}},
        // A wheel moves no pointer: the AC Pan of a consumer-control node.
        {Grab, "Consumer Control with pan", {KEY_VOLUMEUP}, {}, {REL_HWHEEL}},
        // A relative pointer on the node of volume keys is taken along and passes through.
        {Grab, "Receiver with mouse and media keys", {BTN_LEFT, KEY_VOLUMEUP}, {}, {REL_X, REL_Y}},
        {Grab, "Keyboard with touchpad", {KEY_A, KEY_MUTE, BTN_LEFT}, {}, {REL_Y, REL_WHEEL}},
        // Switches stay with the device that reports them.
        {Ignore, "Intel HID events", {KEY_VOLUMEUP, KEY_MUTE}, {}, {}, {SW_TABLET_MODE}},
        {Watch, "Keyboard with lid", {KEY_LEFTALT, KEY_VOLUMEUP}, {}, {}, {SW_LID}},
    };
    for (const auto& c : cases) {
        auto device = makeDevice(c.name, c.keys, c.axes);
        for (auto code : c.relative) {
            libevdev_enable_event_code(device.get(), EV_REL, code, nullptr);
        }
        for (auto code : c.switches) {
            libevdev_enable_event_code(device.get(), EV_SW, code, nullptr);
        }
        EXPECT_EQ(classifyDevice(device.get()), c.expected) << c.name;
    }
}

TEST(EvdevCapabilities, ReadsTheKeysHeldDown) {
    auto keyboard =
        makeDevice("Keyboard", {KEY_A, KEY_LEFTSHIFT, KEY_RIGHTALT, KEY_VOLUMEUP, KEY_RIGHTCTRL});
    EXPECT_FALSE(anyKeyDown(keyboard.get()));
    EXPECT_THAT(heldModifierKeys(keyboard.get()), IsEmpty());
    libevdev_set_event_value(keyboard.get(), EV_KEY, KEY_VOLUMEUP, 1);
    EXPECT_TRUE(anyKeyDown(keyboard.get()));
    libevdev_set_event_value(keyboard.get(), EV_KEY, KEY_VOLUMEUP, 0);
    libevdev_set_event_value(keyboard.get(), EV_KEY, KEY_RIGHTALT, 1);
    libevdev_set_event_value(keyboard.get(), EV_KEY, KEY_LEFTSHIFT, 1);
    EXPECT_THAT(heldModifierKeys(keyboard.get()), ElementsAre(KEY_LEFTSHIFT, KEY_RIGHTALT));

    // The kernel's own key state, as read right after a grab.
    constexpr unsigned kBitsPerWord = sizeof(unsigned long) * CHAR_BIT;
    for (unsigned code : {KEY_ESC, KEY_MAX}) {
        KeyStateBits kernelKeys{};
        EXPECT_FALSE(anyKeyDown(kernelKeys));
        kernelKeys.at(code / kBitsPerWord) |= 1UL << (code % kBitsPerWord);
        EXPECT_TRUE(anyKeyDown(kernelKeys)) << code;
    }
}

TEST(EvdevCapabilities, NamesClonesAfterTheirDeviceWithinUinputsLimit) {
    // A two-byte character that would straddle the limit is dropped whole.
    auto room = UINPUT_MAX_NAME_SIZE - 1;
    EXPECT_EQ(cloneName(std::string(room - 1, 'k') + "\xC3\xA9tail"), std::string(room - 1, 'k'));
    EXPECT_EQ(cloneName(std::string(room - 2, 'k') + "\xC3\xA9tail"),
              std::string(room - 2, 'k') + "\xC3\xA9");
}

} // namespace
} // namespace varnu::linux_backend
