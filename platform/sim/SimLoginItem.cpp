#include "platform/sim/SimLoginItem.h"

namespace varnu::sim {

void SimLoginItem::setOutcome(Outcome outcome, std::string errorDescription) {
    outcome_ = outcome;
    errorDescription_ = std::move(errorDescription);
}

std::optional<LoginItemError> SimLoginItem::registerItem() {
    return answer(LoginItemRecord::Kind::Register, outcome_ == Outcome::NeedsApproval
                                                       ? LoginItemStatus::RequiresApproval
                                                       : LoginItemStatus::Enabled);
}

std::optional<LoginItemError> SimLoginItem::unregisterItem() {
    return answer(LoginItemRecord::Kind::Unregister, LoginItemStatus::NotRegistered);
}

std::optional<LoginItemError> SimLoginItem::answer(LoginItemRecord::Kind kind,
                                                   LoginItemStatus onSuccess) {
    if (outcome_ == Outcome::Fails) {
        history_.add({kind, errorDescription_, status_});
        return LoginItemError{errorDescription_};
    }
    status_ = onSuccess;
    history_.add({kind, std::nullopt, status_});
    return std::nullopt;
}

} // namespace varnu::sim
