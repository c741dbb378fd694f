#pragma once

// The device service's one DDC/CI thread: every client's transfers, one at a time, each bus
// through one channel.
// Implements: a Get VCP Feature request keeps its bus for its client until the client's next
// transfer there (the read of the reply) or until the reply is due and kReplyMargin more has
// passed (kReplyWithin), whichever comes first; meanwhile the other clients' transfers to that bus
// wait and those to other buses go on, so that no client holds a bus, or the thread, for another. A
// client released (gone, or its user left the front) lets go of its bus at once, and its
// transfers not yet begun are answered EPERM.
// Does not implement: which transfers are allowed or to which bus (DdcRequests, DisplayHold),
// another program's lock on a bus (the channel waits for it, bounded).

#include "ddc/VCP.h"
#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/displays/I2cDevChannel.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace varnu::linux_backend::devices {

class DdcWorker {
public:
    using ClientId = std::uint64_t;
    using Work = std::function<DdcResult(I2cDevChannel&)>;
    // Any thread: a transfer's result, or the refusal of one that was released.
    using Done = std::function<void(ClientId, DdcResult)>;
    static constexpr std::chrono::milliseconds kReplyMargin{100};
    static constexpr std::chrono::milliseconds kReplyWithin =
        std::chrono::milliseconds(kGetVCPFeatureReplyDelayMicroseconds / 1000) + kReplyMargin;

    // A transaction ends `replyWithin` after its request at the latest.
    DdcWorker(std::shared_ptr<I2cTransport> transport, std::shared_ptr<I2cDevReports> reports,
              Done done, std::chrono::milliseconds replyWithin = kReplyWithin);
    // Lets the transfer in progress end (the bus timeouts bound it) and drops the others.
    ~DdcWorker();
    DdcWorker(const DdcWorker&) = delete;
    DdcWorker& operator=(const DdcWorker&) = delete;

    // `asksReply`: the transfer asks the display for a reply that its client reads next.
    void queue(ClientId client, const std::string& bus, std::uint32_t id, bool asksReply,
               Work work);
    void release(ClientId client);
    // The channels to any other bus close.
    void keepOnly(std::set<std::string> buses);

private:
    using Clock = std::chrono::steady_clock;
    struct Transfer {
        ClientId client = 0;
        std::string bus;
        std::uint32_t id = 0;
        bool asksReply = false;
        Work work;
    };
    struct Held {
        ClientId client = 0;
        Clock::time_point until;
    };

    void run();
    // With the lock held: the first waiting transfer whose bus is free for its client.
    std::optional<Transfer> takeNext();
    // With the lock held: the channels of ended transactions and of buses no longer kept close.
    void closeEnded(Clock::time_point now);
    I2cDevChannel& channel(const std::string& bus);

    const std::shared_ptr<I2cTransport> transport_;
    const std::shared_ptr<I2cDevReports> reports_;
    const Done done_;
    const std::chrono::milliseconds replyWithin_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Transfer> waiting_;
    std::map<std::string, Held> held_;
    std::set<std::string> closing_;
    std::optional<std::set<std::string>> kept_;
    std::optional<ClientId> running_;
    bool runningReleased_ = false;
    bool stopping_ = false;
    // The worker thread's alone.
    std::map<std::string, std::unique_ptr<I2cDevChannel>> channels_;
    std::thread thread_;
};

} // namespace varnu::linux_backend::devices
