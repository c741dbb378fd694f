#pragma once

// The display connectors the kernel's DRM drivers expose in sysfs, and the I2C buses that may
// carry each one's DDC/CI.
// Implements: connected connectors with their kind, EDID and product name, and the candidate
// buses in the order they are worth trying: the connector's `ddc` link, the adapters inside the
// connector (DisplayPort AUX, and MST ports on newer kernels), and the adapters of the card and
// of the GPU device it belongs to (MST ports on older kernels, the proprietary NVIDIA driver's
// "NVIDIA i2c adapter N", which no connector links to). A native DisplayPort connector puts
// its AUX adapter first, because its `ddc` link may lead to DDC pins its monitor never uses.
// Does not implement: reading the buses (DdcBusProbe does), displays without a DRM driver.

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::linux_backend {

enum class BusRoute {
    DdcLink,          // the connector's ddc link
    ConnectorAdapter, // an i2c-N inside the connector's folder
    CardAdapter,      // an i2c-N of the card or its GPU device, shared by its connectors
};

struct BusCandidate {
    int bus = 0; // N of /dev/i2c-N
    BusRoute route = BusRoute::DdcLink;
    std::string adapterName; // the adapter's "name" attribute, e.g. "AMDGPU DM aux hw bus 1"

    friend bool operator==(const BusCandidate&, const BusCandidate&) = default;
};

struct DrmConnector {
    std::string name;        // e.g. "card0-DP-1"
    std::string productName; // from the EDID; empty when it does not tell
    std::vector<std::uint8_t> edid;
    bool internal = false;          // eDP, LVDS or DSI: the computer's own panel
    bool nativeDisplayPort = false; // a DP connector (not an HDMI or DVI port)
    std::vector<BusCandidate> candidates;

    friend bool operator==(const DrmConnector&, const DrmConnector&) = default;
};

// Every connected connector, internal panels included, by card, then connector type and
// number.
std::vector<DrmConnector> scanConnectedConnectors(const std::string& sysfsRoot);

} // namespace varnu::linux_backend
