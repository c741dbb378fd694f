#pragma once

// Display discovery for platforms without a display registry: the connected external displays
// that have a usable DDC/CI bus, in a stable order, each with its product name.

#include "platform/AVService.h"

#include <memory>
#include <string>
#include <vector>

namespace varnu {

struct ExternalDisplay {
    std::string productName; // empty when the display does not tell
    std::unique_ptr<AVService> service;
};

class DisplayEnumerator {
public:
    virtual ~DisplayEnumerator() = default;
    virtual std::vector<ExternalDisplay> externalDisplays() = 0;
};

} // namespace varnu
