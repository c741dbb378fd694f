#include "app/PendingMonitorWrites.h"

#include <algorithm>
#include <utility>

namespace varnu {

bool PendingMonitorWrites::merge(std::span<const VCPWrite> writes) {
    const std::lock_guard lock(mutex_);
    for (const auto& write : writes) {
        auto same = std::find_if(writes_.begin(), writes_.end(), [&](const VCPWrite& waiting) {
            return waiting.code == write.code;
        });
        if (same != writes_.end()) {
            *same = write;
        } else {
            writes_.push_back(write);
        }
    }
    return !std::exchange(jobQueued_, true);
}

std::vector<VCPWrite> PendingMonitorWrites::take() {
    const std::lock_guard lock(mutex_);
    jobQueued_ = false;
    return std::exchange(writes_, {});
}

} // namespace varnu
