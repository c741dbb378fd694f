#pragma once

#include <string>

namespace varnu {

class Workspace {
public:
    virtual ~Workspace() = default;
    // Asks the system to open the link; answers whether it accepted the request.
    virtual bool openURL(const std::string& url) = 0;
};

} // namespace varnu
