#pragma once

// Between the system-defined events the core reads volume keys from and the key strokes the
// device service sends: the service turns each event its key filter hands out into a stroke,
// Varnu turns each stroke back into the same event.
// Implements: both directions, exact inverses of each other; an event that is not one of the
// three volume keys with the four modifiers has no stroke, so it cannot be sent.
// Does not implement: sending or receiving (KeyQuestions, the client's tap).

#include "platform/EventTap.h"
#include "platform/linux/devices-link/DevicesProtocol.h"

#include <optional>

namespace varnu::linux_backend::devices {

std::optional<KeyStroke> strokeOf(const SystemDefinedEvent& event);
SystemDefinedEvent eventOf(const KeyStroke& stroke);

} // namespace varnu::linux_backend::devices
