#include "platform/linux/displays/DrmHotplugWatch.h"

#include <libudev.h>

namespace varnu::linux_backend {

std::unique_ptr<DrmHotplugWatch> DrmHotplugWatch::open() {
    udev* context = udev_new();
    if (!context) {
        return nullptr;
    }
    // "udev": events after udev has processed them, so the device nodes exist by then.
    udev_monitor* monitor = udev_monitor_new_from_netlink(context, "udev");
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "drm", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor, "i2c-dev", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor) < 0) {
        udev_monitor_unref(monitor);
        udev_unref(context);
        return nullptr;
    }
    return std::unique_ptr<DrmHotplugWatch>(new DrmHotplugWatch(context, monitor));
}

DrmHotplugWatch::DrmHotplugWatch(udev* context, udev_monitor* monitor)
    : context_(context)
    , monitor_(monitor) {}

DrmHotplugWatch::~DrmHotplugWatch() {
    udev_monitor_unref(monitor_);
    udev_unref(context_);
}

int DrmHotplugWatch::fd() const {
    return udev_monitor_get_fd(monitor_);
}

bool DrmHotplugWatch::drain() {
    bool any = false;
    // The monitor's socket is non-blocking: this ends when nothing more waits.
    while (udev_device* device = udev_monitor_receive_device(monitor_)) {
        udev_device_unref(device);
        any = true;
    }
    return any;
}

} // namespace varnu::linux_backend
