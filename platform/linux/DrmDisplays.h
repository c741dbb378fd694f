#pragma once

// The displays the kernel's DRM drivers expose in sysfs, and their DDC/CI channels.
// Implements: DisplayEnumerator over /sys/class/drm (connected connectors, EDID monitor names,
// the I2C bus from the connector's ddc link or its DisplayPort AUX i2c-N folder) with channels
// from /dev/i2c-N; the same walk, internal panels included, for diagnostics.
// Does not implement: hot-plug notification (every call walks sysfs afresh), DDC/CI over
// panels' own backlight interfaces, displays without a DRM driver.

#include "platform/DisplayEnumerator.h"
#include "platform/linux/I2cTransport.h"

#include <iostream>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace varnu::linux_backend {

// One connected display connector, as sysfs shows it.
struct DrmMonitor {
    std::string connector;   // e.g. "card0-DP-1"
    std::string productName; // from the EDID; empty when it does not tell
    std::optional<int> bus;  // N of /dev/i2c-N
    bool internal = false;   // eDP, LVDS or DSI: the computer's own panel

    friend bool operator==(const DrmMonitor&, const DrmMonitor&) = default;
};

struct DrmPaths {
    std::string sysfsRoot = "/sys/class/drm";
    std::string deviceRoot = "/dev";
};

class DrmDisplays final : public DisplayEnumerator {
public:
    // Problems with a bus go to the diagnostics stream, once per bus and kind of problem; null
    // keeps quiet.
    explicit DrmDisplays(
        DrmPaths paths = {},
        std::shared_ptr<I2cTransport> transport = std::make_shared<SystemI2cTransport>(),
        std::ostream* diagnostics = &std::cerr);

    // Every connected connector, internal panels included, by card, then connector type and
    // number.
    std::vector<DrmMonitor> monitors() const;

    // The connected external displays whose bus could be opened, in the order of monitors().
    std::vector<ExternalDisplay> externalDisplays() override;

    // The device node of an I2C bus, e.g. /dev/i2c-5.
    std::string busPath(int bus) const;

private:
    void reportOnce(const DrmMonitor& monitor, const std::string& path, int error);

    DrmPaths paths_;
    std::shared_ptr<I2cTransport> transport_;
    std::ostream* diagnostics_;
    std::set<std::string> reported_;
};

// What a failed open of a DDC/CI bus means for the user, e.g. for EBUSY that a kernel driver
// owns the display's address.
std::string describeBusError(const std::string& path, int error);

} // namespace varnu::linux_backend
