#pragma once

// varnu-probe's monitors: the way Varnu reaches them, what it finds, and one VCP control read or
// written by hand.
// Implements: the path (through the device service where it serves this user, else by Varnu's
// own buses, and why); through the service, the displays it lists with their buses; otherwise,
// per connector, the buses tried, what each did and the verdict; `vcp` through the service on
// a bus it lists, or on the bus itself (a bus that belongs to no connector only with force).
// Does not implement: the audio outputs, the volume keys, the options (main.cpp).

#include "platform/linux/displays/DrmDisplays.h"
#include "platform/linux/input/OtherDeviceAccess.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace varnu::probe {

struct MonitorsSetup {
    linux_backend::DrmPaths paths;
    std::string socketPath;
};

void reportMonitors(std::ostream& out, const MonitorsSetup& setup);
// The line that says which of those devices this user can open besides the service, if any
// (root opens them all anyway).
void reportOtherDeviceAccess(std::ostream& out, linux_backend::HeldDevices kind);
// The exit status: 0 when the control was read or written.
int runVcp(const MonitorsSetup& setup, int bus, std::uint8_t code,
           std::optional<std::uint16_t> value, bool force);

} // namespace varnu::probe
