#include "platform/linux/input/EvdevCapabilities.h"

#include "platform/linux/input/VolumeKeyEvents.h"

#include <algorithm>
#include <array>
#include <libevdev/libevdev.h>
#include <linux/uinput.h>

namespace varnu::linux_backend {
namespace {

template <std::size_t N>
bool reportsAny(const libevdev* device, const std::array<std::uint16_t, N>& keys) {
    for (auto code : keys) {
        if (libevdev_has_event_code(device, EV_KEY, code)) {
            return true;
        }
    }
    return false;
}

// Below ABS_VOLUME the kernel numbers positions, pressure, tilt and joystick axes, and from
// ABS_MT_SLOT on touch contacts: tablets, touchscreens, touchpads and game pads keep their
// buttons. A keyboard's consumer-control node reports the HID Volume usage as ABS_VOLUME (or
// unmapped usages as ABS_MISC) next to its volume keys and is still taken.
bool hasPositionalAxis(const libevdev* device) {
    for (unsigned code = 0; code <= ABS_MAX; ++code) {
        bool positional = code < ABS_VOLUME || code >= ABS_MT_SLOT;
        if (positional && libevdev_has_event_code(device, EV_ABS, code)) {
            return true;
        }
    }
    return false;
}

// A UTF-8 sequence cut short at the end would make the whole name invalid.
void dropIncompleteCharacter(std::string& text) {
    auto isContinuation = [](unsigned char byte) { return (byte & 0xC0) == 0x80; };
    std::size_t start = text.size();
    while (start > 0 && isContinuation(static_cast<unsigned char>(text[start - 1]))) {
        --start;
    }
    if (start == 0) {
        return;
    }
    auto lead = static_cast<unsigned char>(text[start - 1]);
    std::size_t length = lead < 0x80    ? 1
                         : lead >= 0xF0 ? 4
                         : lead >= 0xE0 ? 3
                         : lead >= 0xC0 ? 2
                                        : 1;
    if (text.size() - (start - 1) < length) {
        text.erase(start - 1);
    }
}

} // namespace

std::optional<LeftAlone> whyLeftAlone(const libevdev* device) {
    // A lid or tablet-mode switch must keep reaching the desktop from its own device.
    if (libevdev_has_event_type(device, EV_SW)) {
        return LeftAlone::ReportsSwitches;
    }
    if (hasPositionalAxis(device)) {
        return LeftAlone::PositionalAxes;
    }
    return std::nullopt;
}

// Wheels alone (many consumer-control nodes report REL_HWHEEL for AC Pan) move no pointer.
bool movesRelativePointer(const libevdev* device) {
    return libevdev_has_event_code(device, EV_REL, REL_X) ||
           libevdev_has_event_code(device, EV_REL, REL_Y);
}

DeviceIdentity identityOf(const libevdev* device) {
    const char* name = libevdev_get_name(device);
    const char* phys = libevdev_get_phys(device);
    return {name ? name : "",
            phys ? phys : "",
            libevdev_get_id_bustype(device),
            libevdev_get_id_vendor(device),
            libevdev_get_id_product(device),
            libevdev_get_id_version(device)};
}

bool isVirtualDevice(std::string_view syspath) {
    return syspath.starts_with("/sys/devices/virtual/");
}

bool hasVolumeKeys(const libevdev* device) {
    return reportsAny(device, kVolumeKeys);
}

DeviceRole classifyDevice(const libevdev* device) {
    if (!libevdev_has_event_type(device, EV_KEY)) {
        return DeviceRole::Ignore;
    }
    if (hasVolumeKeys(device) && !whyLeftAlone(device)) {
        return DeviceRole::Grab;
    }
    return reportsAny(device, kModifierKeys) ? DeviceRole::Watch : DeviceRole::Ignore;
}

bool anyKeyDown(const libevdev* device) {
    for (unsigned code = 0; code <= KEY_MAX; ++code) {
        if (libevdev_has_event_code(device, EV_KEY, code) &&
            libevdev_get_event_value(device, EV_KEY, code) != 0) {
            return true;
        }
    }
    return false;
}

bool anyKeyDown(const KeyStateBits& keys) {
    return std::any_of(keys.begin(), keys.end(), [](unsigned long word) { return word != 0; });
}

std::vector<std::uint16_t> heldModifierKeys(const libevdev* device) {
    std::vector<std::uint16_t> held;
    for (auto code : kModifierKeys) {
        if (libevdev_has_event_code(device, EV_KEY, code) &&
            libevdev_get_event_value(device, EV_KEY, code) != 0) {
            held.push_back(code);
        }
    }
    return held;
}

std::string cloneName(std::string_view deviceName) {
    // UINPUT_MAX_NAME_SIZE counts the terminating NUL.
    constexpr std::size_t kLongestName = UINPUT_MAX_NAME_SIZE - 1;
    std::string name(deviceName.substr(0, kLongestName));
    if (deviceName.size() > kLongestName) {
        dropIncompleteCharacter(name);
    }
    return name;
}

} // namespace varnu::linux_backend
