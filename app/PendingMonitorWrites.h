#pragma once

#include "app/VolumeKeys.h"
#include "ddc/DDCMonitor.h"

#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace varnu {

// The writes of key presses that one monitor has not been sent yet. A held key presses faster
// than the monitor takes the writes, so a press merges into what is still waiting rather than
// queueing behind it: for each VCP code the latest value wins, in the order of the latest press
// that wrote it. The main thread merges; one job on the "ddc" queue takes everything when it
// starts. This is where the two threads meet, so a lock guards it, held only to merge or to take.
class PendingMonitorWrites {
public:
    explicit PendingMonitorWrites(std::shared_ptr<DDCMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    PendingMonitorWrites(const PendingMonitorWrites&) = delete;
    PendingMonitorWrites& operator=(const PendingMonitorWrites&) = delete;

    const std::shared_ptr<DDCMonitor>& monitor() const { return monitor_; }

    // True when no job is waiting to take the writes yet, so the caller must queue one.
    bool merge(std::span<const VCPWrite> writes);
    // Everything merged since the last take, in order; the next merge needs a new job.
    std::vector<VCPWrite> take();

private:
    const std::shared_ptr<DDCMonitor> monitor_;
    std::mutex mutex_;
    std::vector<VCPWrite> writes_;
    bool jobQueued_ = false;
};

} // namespace varnu
