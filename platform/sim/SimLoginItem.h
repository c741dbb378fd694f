#pragma once

// The simulated login-item service.
// Implements: registering and unregistering with a configurable outcome (success, success that
// leaves the item waiting for the user's approval, or failure with a description), and the
// registration status, which can also be set directly.
// Does not: start anything at login.

#include "platform/LoginItem.h"
#include "platform/sim/SimHistory.h"

#include <optional>
#include <string>
#include <vector>

namespace varnu::sim {

struct LoginItemRecord {
    enum class Kind { Register, Unregister };
    Kind kind;
    // The error handed back, or nothing on success.
    std::optional<std::string> error{};
    LoginItemStatus statusAfter = LoginItemStatus::NotRegistered;
};

class SimLoginItem final : public LoginItemService {
public:
    enum class Outcome {
        Succeeds,      // register: Enabled; unregister: NotRegistered
        NeedsApproval, // register succeeds but leaves RequiresApproval; unregister succeeds
        Fails,         // both answer the error; the status stays
    };

    std::optional<LoginItemError> registerItem() override;
    std::optional<LoginItemError> unregisterItem() override;
    LoginItemStatus status() override { return status_; }

    // How later requests turn out; the description is the failure's localized description.
    void setOutcome(Outcome outcome, std::string errorDescription = {});
    void setStatus(LoginItemStatus status) { status_ = status; }

    LoginItemStatus currentStatus() const { return status_; }

    const std::vector<LoginItemRecord>& history() const { return history_.records(); }
    void setObserver(SimHistory<LoginItemRecord>::Observer observer) {
        history_.setObserver(std::move(observer));
    }

private:
    std::optional<LoginItemError> answer(LoginItemRecord::Kind kind, LoginItemStatus onSuccess);

    Outcome outcome_ = Outcome::Succeeds;
    std::string errorDescription_;
    LoginItemStatus status_ = LoginItemStatus::NotRegistered;
    SimHistory<LoginItemRecord> history_;
};

} // namespace varnu::sim
