#include "app/OverlayGiveBacks.h"

#include <utility>

namespace varnu {

void OverlayGiveBacks::add(Outcome outcome) {
    const std::lock_guard lock(mutex_);
    outcomes_.push_back(outcome);
}

std::vector<OverlayGiveBacks::Outcome> OverlayGiveBacks::take() {
    const std::lock_guard lock(mutex_);
    return std::exchange(outcomes_, {});
}

} // namespace varnu
