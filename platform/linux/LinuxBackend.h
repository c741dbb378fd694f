#pragma once

// The Linux backend's share of the platform bundle.
// Implements: audio outputs (PulseAudio protocol), displays and volume keys (through the
// device service where it serves Varnu, or DRM + i2c-dev and evdev + uinput in process), the
// settings store, launch at login, the preferred languages, pauses and the serial queues. Does not
// implement: anything a front draws or runs (application, tray, windows, overlay, alerts, screens,
// the main queue); the front fills those, and the permission link.

#include "platform/PlatformServices.h"

#include <memory>

namespace varnu::linux_backend {

class JsonUserDefaults;

// Needs services.mainQueue set. The store is handed back as well, to be flushed on the way out.
std::shared_ptr<JsonUserDefaults> addLinuxServices(PlatformServices& services);

} // namespace varnu::linux_backend
