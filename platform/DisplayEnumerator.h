#pragma once

// Display discovery for platforms without a display registry: the connected external displays
// that have a usable DDC/CI bus, in a stable order, each with its product name.

#include "platform/AVService.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace varnu {

struct ExternalDisplay {
    std::string productName; // empty when the display does not tell
    std::unique_ptr<AVService> service;
    // Tells the display from every other one, and stays the same while the same monitor is on
    // the same connector, however often the list is built again (not an object or a bus
    // number). Empty when the platform cannot tell.
    std::string identity;
};

class DisplayEnumerator {
public:
    virtual ~DisplayEnumerator() = default;
    virtual std::vector<ExternalDisplay> externalDisplays() = 0;
    // Called on the main queue when the list changes behind the caller's back, so that what
    // was built from it can be built again. A list that changes only between two calls to
    // externalDisplays() never calls it.
    virtual void setChangeHandler(std::function<void()> /*handler*/) {}
};

} // namespace varnu
