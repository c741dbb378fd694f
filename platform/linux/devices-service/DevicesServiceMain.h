#pragma once

// The varnu-devices program around its server: options, the listening socket, signals.
// Implements: `varnu-devices [--socket PATH] [--seat SEAT]`; the socket systemd passes
// (socket activation) or, with --socket, one of its own at PATH (for tests and for running it
// by hand), open to every user, since the server checks each peer; SIGTERM and SIGINT blocked
// for the server's signalfd before any thread starts.
// Does not implement: who is in front of the seat (the caller passes how to ask).

#include "platform/linux/devices-service/KeyboardHold.h"
#include "platform/linux/devices-service/SeatSessions.h"
#include "platform/linux/displays/DrmDisplays.h"

#include <functional>
#include <memory>
#include <string>

namespace varnu::linux_backend::devices {

using SeatOpener = std::function<std::unique_ptr<SeatSessions>(const std::string& seat)>;

int runDevicesService(int argc, char** argv, const SeatOpener& openSeat,
                      const HoldSettings& hold = {}, const DrmPaths& displays = {});

} // namespace varnu::linux_backend::devices
