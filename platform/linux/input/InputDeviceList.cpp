#include "platform/linux/input/InputDeviceList.h"

#include <algorithm>
#include <libudev.h>
#include <memory>
#include <string_view>

namespace varnu::linux_backend {
namespace {

constexpr const char* kInputSubsystem = "input";
constexpr const char* kHasKeysProperty = "ID_INPUT_KEY";
constexpr std::string_view kEventDevicePrefix = "event";

struct UdevUnref {
    void operator()(udev* context) const { udev_unref(context); }
    void operator()(udev_enumerate* enumerate) const { udev_enumerate_unref(enumerate); }
    void operator()(udev_device* device) const { udev_device_unref(device); }
};

} // namespace

std::optional<KeyEventDevice> keyEventDevice(udev_device* device) {
    const char* sysname = udev_device_get_sysname(device);
    const char* syspath = udev_device_get_syspath(device);
    const char* node = udev_device_get_devnode(device);
    const char* hasKeys = udev_device_get_property_value(device, kHasKeysProperty);
    if (!sysname || !syspath || !node || !hasKeys || std::string_view(hasKeys) != "1" ||
        !std::string_view(sysname).starts_with(kEventDevicePrefix)) {
        return std::nullopt;
    }
    return KeyEventDevice{node, syspath};
}

std::vector<KeyEventDevice> keyEventDevices(udev* context) {
    std::vector<KeyEventDevice> devices;
    std::unique_ptr<udev_enumerate, UdevUnref> enumerate(udev_enumerate_new(context));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), kInputSubsystem) < 0 ||
        udev_enumerate_add_match_property(enumerate.get(), kHasKeysProperty, "1") < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return devices;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        std::unique_ptr<udev_device, UdevUnref> device(
            udev_device_new_from_syspath(context, udev_list_entry_get_name(entry)));
        if (device) {
            if (auto found = keyEventDevice(device.get())) {
                devices.push_back(std::move(*found));
            }
        }
    }
    std::sort(devices.begin(), devices.end(),
              [](const auto& left, const auto& right) { return left.node < right.node; });
    return devices;
}

std::vector<KeyEventDevice> findKeyEventDevices() {
    std::unique_ptr<udev, UdevUnref> context(udev_new());
    return context ? keyEventDevices(context.get()) : std::vector<KeyEventDevice>{};
}

std::vector<std::string> keyEventDevices() {
    std::vector<std::string> nodes;
    for (auto& device : findKeyEventDevices()) {
        nodes.push_back(std::move(device.node));
    }
    return nodes;
}

} // namespace varnu::linux_backend
