#include "platform/linux/audio/DefaultSinkWrites.h"

#include <algorithm>

namespace varnu::linux_backend {

void DefaultSinkWrites::sent(const std::string& sinkName, std::uint64_t write) {
    requested_ = write;
    inFlight_.push_back(write);
    awaited_ = sinkName;
}

bool DefaultSinkWrites::answered(bool success) {
    if (inFlight_.empty()) {
        return false;
    }
    const std::uint64_t write = inFlight_.front();
    inFlight_.pop_front();
    if (success) {
        return false;
    }
    // Refused (the sink went away meanwhile): the server keeps its default.
    settle(write);
    return true;
}

void DefaultSinkWrites::serverShows(const std::string& sinkName) {
    if (!awaited_.empty() && sinkName == awaited_) {
        settle(requested_);
    }
}

void DefaultSinkWrites::settleAll() {
    settle(requested_);
}

void DefaultSinkWrites::forget() {
    inFlight_.clear();
    // Writes that did not reach the server are moot; the next server decides the default.
    settleAll();
}

void DefaultSinkWrites::settle(std::uint64_t write) {
    settled_ = std::max(settled_, write);
    if (allSettled()) {
        awaited_.clear();
    }
}

} // namespace varnu::linux_backend
