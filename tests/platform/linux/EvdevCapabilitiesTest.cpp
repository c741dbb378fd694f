#include "platform/linux/EvdevCapabilities.h"

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

Device makeDevice(const char* name, std::initializer_list<unsigned> keys) {
    Device device(libevdev_new());
    libevdev_set_name(device.get(), name);
    for (auto code : keys) {
        libevdev_enable_event_code(device.get(), EV_KEY, code, nullptr);
    }
    return device;
}

void addAbsoluteAxes(libevdev* device, std::initializer_list<unsigned> codes) {
    input_absinfo axis{};
    axis.maximum = 9;
    for (auto code : codes) {
        ASSERT_EQ(libevdev_enable_event_code(device, EV_ABS, code, &axis), 0) << code;
    }
}

void pressInKeyState(KeyStateBits& keys, unsigned code) {
    constexpr unsigned kBitsPerWord = sizeof(unsigned long) * CHAR_BIT;
    keys.at(code / kBitsPerWord) |= 1UL << (code % kBitsPerWord);
}

TEST(EvdevCapabilities, GrabsDevicesWithVolumeKeysOnly) {
    auto keyboard = makeDevice("AT Translated Set 2 keyboard",
                               {KEY_A, KEY_LEFTSHIFT, KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE});
    EXPECT_EQ(classifyDevice(keyboard.get()), DeviceRole::Grab);
    auto consumerControl = makeDevice("USB Receiver Consumer Control", {KEY_MUTE, KEY_PLAYPAUSE});
    EXPECT_EQ(classifyDevice(consumerControl.get()), DeviceRole::Grab);

    // A keyboard without volume keys is read for its modifiers.
    auto plain = makeDevice("Plain keyboard", {KEY_A, KEY_RIGHTMETA});
    EXPECT_EQ(classifyDevice(plain.get()), DeviceRole::Watch);
    auto brightness = makeDevice("Video Bus", {KEY_BRIGHTNESSUP, KEY_BRIGHTNESSDOWN});
    EXPECT_EQ(classifyDevice(brightness.get()), DeviceRole::Ignore);
    auto mouse = makeDevice("Mouse", {BTN_LEFT, BTN_RIGHT});
    libevdev_enable_event_code(mouse.get(), EV_REL, REL_X, nullptr);
    EXPECT_EQ(classifyDevice(mouse.get()), DeviceRole::Ignore);

    // Devices with absolute axes keep their buttons, even volume buttons.
    auto tablet = makeDevice("Tablet", {KEY_VOLUMEUP, KEY_VOLUMEDOWN});
    addAbsoluteAxes(tablet.get(), {ABS_X});
    EXPECT_EQ(classifyDevice(tablet.get()), DeviceRole::Ignore);
    auto touchKeyboard = makeDevice("Keyboard with touch strip", {KEY_LEFTCTRL, KEY_MUTE});
    addAbsoluteAxes(touchKeyboard.get(), {ABS_X});
    EXPECT_EQ(classifyDevice(touchKeyboard.get()), DeviceRole::Watch);

    // Varnu's own clones, also another instance's, are never taken again.
    auto clone = makeDevice(cloneName("AT Translated Set 2 keyboard").c_str(),
                            {KEY_LEFTSHIFT, KEY_VOLUMEUP});
    EXPECT_EQ(classifyDevice(clone.get()), DeviceRole::Ignore);
}

TEST(EvdevCapabilities, TakesConsumerControlsWithAVolumeAxisButNoPointingDevices) {
    // The HID Volume usage arrives as ABS_VOLUME on the same node as the volume keys.
    auto consumerControl =
        makeDevice("Wireless Keyboard Consumer Control", {KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE});
    addAbsoluteAxes(consumerControl.get(), {ABS_VOLUME});
    EXPECT_EQ(classifyDevice(consumerControl.get()), DeviceRole::Grab);
    addAbsoluteAxes(consumerControl.get(), {ABS_MISC});
    EXPECT_EQ(classifyDevice(consumerControl.get()), DeviceRole::Grab);

    auto touchscreen = makeDevice("Touchscreen", {KEY_VOLUMEUP, KEY_VOLUMEDOWN, BTN_TOUCH});
    addAbsoluteAxes(touchscreen.get(),
                    {ABS_X, ABS_Y, ABS_VOLUME, ABS_MT_POSITION_X, ABS_MT_POSITION_Y});
    EXPECT_EQ(classifyDevice(touchscreen.get()), DeviceRole::Ignore);
    auto tablet = makeDevice("Pen tablet", {KEY_VOLUMEUP, KEY_MUTE, BTN_TOOL_PEN});
    addAbsoluteAxes(tablet.get(), {ABS_X, ABS_Y, ABS_PRESSURE});
    EXPECT_EQ(classifyDevice(tablet.get()), DeviceRole::Ignore);
    auto touchpad = makeDevice("Touchpad", {KEY_MUTE, BTN_LEFT});
    addAbsoluteAxes(touchpad.get(), {ABS_MT_POSITION_X, ABS_MT_POSITION_Y});
    EXPECT_EQ(classifyDevice(touchpad.get()), DeviceRole::Ignore);
    auto touchStrip = makeDevice("Touch strip", {KEY_VOLUMEUP, KEY_VOLUMEDOWN});
    addAbsoluteAxes(touchStrip.get(), {ABS_TOOL_WIDTH});
    EXPECT_EQ(classifyDevice(touchStrip.get()), DeviceRole::Ignore);
    auto gamepad = makeDevice("Gamepad", {KEY_VOLUMEUP, KEY_VOLUMEDOWN, BTN_SOUTH});
    addAbsoluteAxes(gamepad.get(), {ABS_HAT0X, ABS_HAT0Y});
    EXPECT_EQ(classifyDevice(gamepad.get()), DeviceRole::Ignore);
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
    EXPECT_TRUE(anyKeyDown(keyboard.get()));
    EXPECT_THAT(heldModifierKeys(keyboard.get()), ElementsAre(KEY_LEFTSHIFT, KEY_RIGHTALT));

    // The kernel's own key state, as read right after a grab.
    KeyStateBits kernelKeys{};
    EXPECT_FALSE(anyKeyDown(kernelKeys));
    pressInKeyState(kernelKeys, KEY_ESC);
    EXPECT_TRUE(anyKeyDown(kernelKeys));
    KeyStateBits highestKey{};
    pressInKeyState(highestKey, KEY_MAX);
    EXPECT_TRUE(anyKeyDown(highestKey));
}

TEST(EvdevCapabilities, NamesClonesWithinUinputsLimit) {
    EXPECT_EQ(cloneName("Keyboard"), "Keyboard (Varnu)");
    std::string longName(100, 'k');
    auto name = cloneName(longName);
    EXPECT_EQ(name.size(), UINPUT_MAX_NAME_SIZE - 1u);
    EXPECT_TRUE(name.ends_with(kVirtualDeviceNameSuffix));

    // A two-byte character that would straddle the limit is dropped whole.
    auto room = UINPUT_MAX_NAME_SIZE - 1 - kVirtualDeviceNameSuffix.size();
    std::string straddling = std::string(room - 1, 'k') + "\xC3\xA9" + "tail";
    EXPECT_EQ(cloneName(straddling), std::string(room - 1, 'k') + " (Varnu)");
    std::string fitting = std::string(room - 2, 'k') + "\xC3\xA9" + "tail";
    EXPECT_EQ(cloneName(fitting), std::string(room - 2, 'k') + "\xC3\xA9 (Varnu)");
}

} // namespace
} // namespace varnu::linux_backend
