#pragma once

// Which DDC/CI transfers the device service performs for its client: the few Varnu needs, so
// that a client cannot reach a display's EEPROM, a GPU's other chips or a control it never uses.
// Implements: the display's DDC/CI address with the host's address byte only; a write only when
// it is one whole Get VCP Feature or Set VCP Feature request, checksum included, for the speaker
// volume, the mute or the display's own menu, a Set only to a value Varnu sets (a volume up to
// 100, the mute or the menu on or off); a read only of a Get VCP Feature reply's length.
// Does not implement: which displays may be reached (DisplayHold), who may ask (DevicesServer).

#include "platform/linux/devices-link/DevicesProtocol.h"

namespace varnu::linux_backend::devices {

bool isAllowed(const DdcWrite& write);
bool isAllowed(const DdcRead& read);
// Whether the write is a whole Get VCP Feature request, which the display answers with a reply.
bool asksReply(const DdcWrite& write);

} // namespace varnu::linux_backend::devices
