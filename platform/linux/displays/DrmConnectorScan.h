#pragma once

// The display connectors the kernel's DRM drivers expose in sysfs, and the I2C buses that may
// carry each one's DDC/CI.
// Implements: connected connectors with their kind, EDID and product name, and the candidate
// buses in the order they are worth trying, each bus once: the connector's `ddc` link and the
// adapters inside the connector (DisplayPort AUX), which belong to it; then the adapters of the
// card and of the GPU device it belongs to, which its connectors share: DP-MST ports (the kernel
// registers their adapters under the GPU device) and the proprietary NVIDIA driver's "NVIDIA
// i2c adapter N", which no connector links to. A native DisplayPort connector puts its AUX
// adapter first, because its `ddc` link may lead to DDC pins its monitor never uses. A GPU
// with NVIDIA i2c adapters and no connectors at all (its driver without kernel modesetting)
// offers each such bus as a display of its own, found through the i2c-dev class beside the
// DRM class folder.
// Does not implement: reading the buses (DdcBusProbe does), displays of other drivers without
// DRM connectors.

#include <cstdint>
#include <string>
#include <vector>

namespace varnu::linux_backend {

enum class BusRoute {
    DdcLink,          // the connector's ddc link
    ConnectorAdapter, // an i2c-N inside the connector's folder
    CardAdapter,      // an i2c-N of the card or its GPU device, shared by its connectors
    GpuBus,           // an adapter of a GPU without connectors, standing for one display
};

// Whether the bus belongs to one connector, so that whatever EDID it returns is its display's.
inline bool isOwnBus(BusRoute route) {
    return route == BusRoute::DdcLink || route == BusRoute::ConnectorAdapter;
}

struct BusCandidate {
    int bus = 0; // N of /dev/i2c-N
    BusRoute route = BusRoute::DdcLink;
    std::string adapterName; // the adapter's "name" attribute, e.g. "AMDGPU DM aux hw bus 1"

    friend bool operator==(const BusCandidate&, const BusCandidate&) = default;
};

struct DrmConnector {
    // e.g. "card0-DP-1"; for a GPU without connectors, the bus: "i2c-5"
    std::string name;
    std::string productName; // from the EDID in sysfs; empty when it does not tell
    std::vector<std::uint8_t> edid;
    // eDP, LVDS or DSI: meant for the computer's own panel, though some firmware declares a
    // desktop's DisplayPort so.
    bool internal = false;
    bool nativeDisplayPort = false; // a DP connector (not an HDMI or DVI port)
    // No connector: a bus of a GPU without any, its one candidate.
    bool withoutConnector = false;
    std::vector<BusCandidate> candidates;

    friend bool operator==(const DrmConnector&, const DrmConnector&) = default;
};

// Every connected connector, internal panels included, by card, then connector type and
// number; then the buses of GPUs without connectors, by number.
std::vector<DrmConnector> scanConnectedConnectors(const std::string& sysfsRoot);

// Whether the connector may carry an external monitor: any but an internal one, and an internal
// one whose EDID names a monitor, as a desktop's DisplayPort declared eDP does. A laptop panel
// that names itself costs one look: it does not answer DDC/CI.
bool mayBeExternal(const DrmConnector& connector);

} // namespace varnu::linux_backend
