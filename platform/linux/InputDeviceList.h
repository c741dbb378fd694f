#pragma once

// The input event devices that udev marks as having keys (ID_INPUT_KEY), which is every
// keyboard and every device with media buttons.
// Implements: the list at one moment, through libudev.
// Does not implement: hot-plug (EvdevEventTap follows that itself), devices udev does not know.

#include <string>
#include <vector>

struct udev;
struct udev_device;

namespace varnu::linux_backend {

// The device nodes (/dev/input/eventN), sorted; empty when udev cannot be reached.
std::vector<std::string> keyEventDevices();
std::vector<std::string> keyEventDevices(udev* context);

// Whether a device udev reports is a key event device; its node, else empty.
std::string keyEventDeviceNode(udev_device* device);

} // namespace varnu::linux_backend
