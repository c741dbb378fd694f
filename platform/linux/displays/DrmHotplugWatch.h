#pragma once

// Word from udev that displays came, went or changed: events of the "drm" subsystem (connector
// hot-plug) and of "i2c-dev" (a bus's device node appearing or going).
// Implements: a udev monitor to poll on, and draining what arrived.
// Does not implement: telling what changed; the caller looks again.

#include <memory>

struct udev;
struct udev_monitor;

namespace varnu::linux_backend {

class DrmHotplugWatch {
public:
    // Nothing when udev cannot be watched (no netlink, as in some containers).
    static std::unique_ptr<DrmHotplugWatch> open();
    ~DrmHotplugWatch();
    DrmHotplugWatch(const DrmHotplugWatch&) = delete;
    DrmHotplugWatch& operator=(const DrmHotplugWatch&) = delete;

    // Readable when events wait.
    int fd() const;
    // Reads every waiting event; true when there was at least one.
    bool drain();

private:
    DrmHotplugWatch(udev* context, udev_monitor* monitor);

    udev* context_;
    udev_monitor* monitor_;
};

} // namespace varnu::linux_backend
