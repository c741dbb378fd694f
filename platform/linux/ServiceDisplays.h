#pragma once

// The displays of a Varnu whose monitors the device service reaches: the service keeps the
// list and performs the DDC/CI transfers, Varnu's core speaks to each display as to a bus of
// its own.
// Implements: DisplayEnumerator over DevicesConnection's display family: the list asked for
// whenever the service welcomes Varnu, kept whole (a list is taken once its last entry came),
// the change handler posted to the main queue when it changes or the connection ends (the list
// is then empty); each display's AVService sends its writes and reads to the service and waits
// for the answer at most kLongestTransfer (ETIMEDOUT), answering ENOTCONN when the connection
// is not there or ends meanwhile.
// Does not implement: connecting (DevicesConnection, which its owner keeps alive), the buses
// and what may go on them (the service).

#include "platform/Dispatch.h"
#include "platform/DisplayEnumerator.h"
#include "platform/linux/devices-link/DevicesConnection.h"

#include <chrono>
#include <memory>

namespace varnu::linux_backend {

class ServiceDisplays final : public DisplayEnumerator {
public:
    // Longer than a transfer the service may hold a bus for: another program's lock, then the
    // transfer.
    static constexpr std::chrono::milliseconds kLongestTransfer{2500};

    ServiceDisplays(std::shared_ptr<devices::DevicesConnection> connection,
                    std::shared_ptr<MainQueue> mainQueue);
    ~ServiceDisplays() override;
    ServiceDisplays(const ServiceDisplays&) = delete;
    ServiceDisplays& operator=(const ServiceDisplays&) = delete;

    std::vector<ExternalDisplay> externalDisplays() override;
    void setChangeHandler(std::function<void()> handler) override;
    // Waits at most the bound for the service's first list; false when none came.
    bool waitForList(std::chrono::milliseconds bound);
    // The list as the service told it, with the buses' numbers, and a display's channel, for a
    // tool that names displays by bus.
    std::vector<devices::DisplayEntry> entries();
    std::unique_ptr<AVService> channelFor(const devices::DisplayEntry& entry);

    class Link;

private:
    std::shared_ptr<Link> link_;
};

} // namespace varnu::linux_backend
