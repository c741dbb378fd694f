#pragma once

#include <optional>
#include <string>

namespace varnu {

enum class LoginItemStatus : int {
    NotRegistered = 0,
    Enabled = 1,
    RequiresApproval = 2,
    NotFound = 3
};

struct LoginItemError {
    std::string localizedDescription;
};

// The running application's own login item.
class LoginItemService {
public:
    virtual ~LoginItemService() = default;
    // Nothing on success, else the system's error.
    virtual std::optional<LoginItemError> registerItem() = 0;
    virtual std::optional<LoginItemError> unregisterItem() = 0;
    virtual LoginItemStatus status() = 0;
};

} // namespace varnu
