#include "app/PendingMonitorWrites.h"

#include <algorithm>
#include <utility>

namespace varnu {

bool PendingMonitorWrites::merge(std::span<const VCPWrite> writes) {
    const std::lock_guard lock(mutex_);
    // The latest press decides the order of the codes it writes (its overlay before its level,
    // its level before its unmute): each of its writes takes the place of the same code where
    // that comes after the press's previous write, else goes right after that write; the codes
    // it does not write keep their places.
    std::size_t next = 0;
    for (const auto& write : writes) {
        auto same = std::find_if(writes_.begin(), writes_.end(), [&](const VCPWrite& waiting) {
            return waiting.code == write.code;
        });
        const auto at = static_cast<std::size_t>(same - writes_.begin());
        if (same != writes_.end() && at >= next) {
            *same = write;
            next = at + 1;
            continue;
        }
        if (same != writes_.end()) {
            writes_.erase(same);
            --next;
        }
        writes_.insert(writes_.begin() + static_cast<std::ptrdiff_t>(next), write);
        ++next;
    }
    return !std::exchange(jobQueued_, true);
}

std::vector<VCPWrite> PendingMonitorWrites::take() {
    const std::lock_guard lock(mutex_);
    jobQueued_ = false;
    return std::exchange(writes_, {});
}

} // namespace varnu
