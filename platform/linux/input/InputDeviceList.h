#pragma once

// The input event devices that udev marks as having keys (ID_INPUT_KEY), which is every
// keyboard and every device with media buttons.
// Implements: the list at one moment, through libudev, with each device's node and sysfs path.
// Does not implement: hot-plug (EvdevEventTap follows that itself), devices udev does not know.

#include <optional>
#include <string>
#include <vector>

struct udev;
struct udev_device;

namespace varnu::linux_backend {

struct KeyEventDevice {
    std::string node;    // /dev/input/eventN
    std::string syspath; // /sys/devices/.../inputM/eventN
};

// The devices, sorted by node; empty when udev cannot be reached.
std::vector<KeyEventDevice> findKeyEventDevices();
// Their nodes.
std::vector<std::string> keyEventDevices();
// The devices, sorted by node.
std::vector<KeyEventDevice> keyEventDevices(udev* context);

// Whether a device udev reports is a key event device.
std::optional<KeyEventDevice> keyEventDevice(udev_device* device);

} // namespace varnu::linux_backend
