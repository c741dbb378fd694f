#pragma once

// The displays the device service reaches for its clients: the same discovery as Varnu's own
// (DrmDisplays), and DDC/CI transfers on a thread of their own.
// Implements: the current list, numbered by generation, each display named by the list's
// generation and its index, ready once the first look at the displays ended (so that a client
// is not told of an empty list that only was not looked for yet), and a signal when it became
// ready or changed; transfers to a display of the current list only, run by the DDC/CI worker
// (DdcWorker) so that a slow bus never holds up the server, at most kMostPending per client at
// a time; the results, picked up by the server.
// Does not implement: which transfers are allowed (DdcRequests), who may ask (DevicesServer).

#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/displays/DrmDisplays.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace varnu::linux_backend {
class I2cDevChannel;
}

namespace varnu::linux_backend::devices {

class DdcWorker;

class DisplayHold {
public:
    using ClientId = std::uint64_t;
    static constexpr int kMostPending = 4;

    // Null when no eventfd can be had. Problems with buses go to the diagnostics, once each.
    static std::unique_ptr<DisplayHold> start(const DrmPaths& paths, std::ostream* diagnostics);
    // Waits for the transfer in progress, which the bus timeouts bound.
    ~DisplayHold();
    DisplayHold(const DisplayHold&) = delete;
    DisplayHold& operator=(const DisplayHold&) = delete;

    // Readable when the list changed or a transfer ended.
    int signalFd() const { return signalFd_; }
    struct Signals {
        bool listChanged = false;
        std::vector<std::pair<ClientId, DdcResult>> results;
    };
    // Server thread, after signalFd() was readable.
    Signals takeSignals();

    // Whether the first look has ended: before, there is no list to tell.
    bool ready() const { return ready_; }
    // The current list as it goes to a client: one entry per display, or one of count 0.
    std::vector<DisplayEntry> entries() const;
    std::uint32_t generation() const { return generation_; }

    // Server thread: queues the transfer, already found allowed, for a display of the current
    // list. Nothing when queued; else the errno it is refused with (ENODEV: not a display of
    // the current list; EBUSY: too many of the client's are waiting).
    std::optional<std::uint32_t> transfer(ClientId client, const DdcWrite& write);
    std::optional<std::uint32_t> transfer(ClientId client, const DdcRead& read);
    // Server thread: the client's user left the front: the bus it holds is let go and its
    // transfers not yet begun are refused.
    void release(ClientId client);
    // Server thread: the client is gone.
    void forget(ClientId client);

private:
    struct Listed {
        std::string productName;
        std::string identity;
        std::string busPath;
        std::uint16_t bus = 0;
        bool operator==(const Listed&) const = default;
    };
    struct Shared;
    class SignalingQueue;

    DisplayHold() = default;
    void refresh();
    // The display's bus, when the token names one of the current list.
    std::optional<std::string> busOf(const DisplayToken& display) const;
    std::optional<std::uint32_t> admit(ClientId client);
    std::optional<std::uint32_t> queue(ClientId client, const DisplayToken& display,
                                       std::uint32_t id, bool asksReply,
                                       std::function<DdcResult(I2cDevChannel&)> work);

    int signalFd_ = -1;
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<SignalingQueue> mainQueue_;
    std::unique_ptr<DrmDisplays> displays_;
    // Waits for the first look without holding up the server.
    std::jthread firstLook_;
    std::atomic<bool> looked_{false};
    bool ready_ = false;
    std::uint32_t generation_ = 0;
    std::vector<Listed> listed_;
    std::unique_ptr<DdcWorker> worker_;
};

} // namespace varnu::linux_backend::devices
