#pragma once

// Which input devices the volume-key tap grabs, and what their key state says, read from
// libevdev's view of a device.
// Implements: the grab rule (reports a volume key, reports no switches, has no positional
// absolute axes; a relative pointer is taken along and passes through the clone), the watch
// rule (other keyboards, for their modifiers), the held-key queries, the name of a device's
// virtual clone, and what makes a virtual device a pass-through copy of another.
// Does not implement: opening, grabbing or cloning devices.

#include <array>
#include <climits>
#include <cstdint>
#include <linux/input-event-codes.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct libevdev;

namespace varnu::linux_backend {

enum class DeviceRole {
    Ignore,
    // Read only for the modifier keys it holds.
    Watch,
    // Grabbed, its events re-emitted through a clone, its volume keys decided by the core.
    Grab,
};

DeviceRole classifyDevice(const libevdev* device);

bool hasVolumeKeys(const libevdev* device);

// Why a device is never grabbed even with volume keys.
enum class LeftAlone { ReportsSwitches, PositionalAxes };
std::optional<LeftAlone> whyLeftAlone(const libevdev* device);

// REL_X/REL_Y: a mouse, trackball or pointing stick whose motion passes through the clone.
bool movesRelativePointer(const libevdev* device);

// What the desktop and its per-device configuration know a device by.
struct DeviceIdentity {
    std::string name;
    std::string phys;
    int bus = 0;
    int vendor = 0;
    int product = 0;
    int version = 0;
    friend bool operator==(const DeviceIdentity&, const DeviceIdentity&) = default;
};
DeviceIdentity identityOf(const libevdev* device);

// Made by a program through uinput (or another virtual input driver), not by hardware. A
// virtual device with the identity of a real one is a pass-through copy of it: a running
// Varnu's clone, or one of a tool like it.
bool isVirtualDevice(std::string_view syspath);

bool anyKeyDown(const libevdev* device);

// The kernel's key state as EVIOCGKEY fills it: one bit per key code, set while it is down.
using KeyStateBits = std::array<unsigned long, (KEY_CNT + sizeof(unsigned long) * CHAR_BIT - 1) /
                                                   (sizeof(unsigned long) * CHAR_BIT)>;

bool anyKeyDown(const KeyStateBits& keys);

// The modifier keys the device holds down right now.
std::vector<std::uint16_t> heldModifierKeys(const libevdev* device);

// The clone's name: the device's own, so that per-device configuration matching names still
// applies, shortened to fit uinput without cutting a character.
std::string cloneName(std::string_view deviceName);

} // namespace varnu::linux_backend
