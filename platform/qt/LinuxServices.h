#pragma once

// The platform bundle of the real application: the Qt front over the Linux backend.

#include "platform/PlatformServices.h"
#include "platform/qt/QtFront.h"

#include <memory>

namespace varnu::linux_backend {
class JsonUserDefaults;
}

namespace varnu::qt {

struct LinuxServices {
    PlatformServices services;
    // The store, to be flushed on the way out.
    std::shared_ptr<linux_backend::JsonUserDefaults> defaults;
};

LinuxServices makeLinuxServices(const QtFront& front);

// The address of the installed page that explains the device permissions.
std::string permissionsHelpURL();

} // namespace varnu::qt
