#pragma once

#include <string>

namespace varnu {

class Alerts {
public:
    virtual ~Alerts() = default;
    // Shows a modal alert with one button and returns when the user has dismissed it.
    virtual void runModal(const std::string& messageText, const std::string& informativeText) = 0;
};

} // namespace varnu
