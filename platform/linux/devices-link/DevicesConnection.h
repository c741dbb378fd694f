#pragma once

// Varnu's one connection to its device service, shared by every family of messages (the volume
// keys now, DDC/CI later).
// Implements: connecting and saying Hello, a thread that reads the service's words and hands
// each to the listener of its family (or, once welcomed, the main queue reading them, where it
// can), sending from any thread, and connecting again after the connection ended, at growing
// intervals (a tenth of a second up to five seconds; none while connected); a refusal that
// cannot change (no login manager, another version) ends the tries.
// Does not implement: what a family does with its words (its listener), which path Varnu takes.

#include "platform/Dispatch.h"
#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/devices-link/PacketSocket.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace varnu::linux_backend::devices {

struct LinkState {
    enum class Phase {
        Connecting,  // not yet answered, or connecting again after the connection ended
        Welcomed,    // the service serves this client
        Refused,     // the service said no (reason in refusal)
        Unreachable, // nothing listens on the socket (error: connect's errno)
    };
    Phase phase = Phase::Connecting;
    RefusalReason refusal = RefusalReason::NotAtSeat;
    ClientStanding standing = ClientStanding::TapNotWanted;
    // The process of this user the service holds the keyboards for, or 0.
    std::uint32_t servedProcess = 0;
    int error = 0;
    // Whether the tries have ended for good.
    bool final = false;
};

class DevicesConnection;

class DevicesListener {
public:
    virtual ~DevicesListener() = default;
    // The connection's thread, or the main queue while it reads the words: a word of the
    // listener's family.
    virtual void received(const ServiceMessage& message) = 0;
    // The connection's thread (or the main queue, while it reads the words): welcomed, refused,
    // a new standing, or the connection ended. What the listener says at once goes through the
    // connection given: on this thread a listener must not take a reference of its own, lest
    // the connection end on its own thread.
    virtual void linkChanged(const LinkState& state, DevicesConnection& connection) = 0;
};

class DevicesConnection : public std::enable_shared_from_this<DevicesConnection> {
public:
    struct Timing {
        std::chrono::milliseconds firstRetry{100};
        std::chrono::milliseconds longestRetry{5000};
    };

    // Starts connecting at once; null when no thread or eventfd can be had. With a main queue
    // that watches descriptors, the service's words are read on it from the first standing of
    // each welcome on, so that a question reaches the main thread with no thread in between;
    // otherwise, and while connecting, on the connection's own thread.
    static std::shared_ptr<DevicesConnection> open(std::string socketPath, Timing timing,
                                                   std::shared_ptr<MainQueue> readOn = nullptr);
    static std::shared_ptr<DevicesConnection> open(std::string socketPath) {
        return open(std::move(socketPath), Timing{});
    }
    ~DevicesConnection();
    DevicesConnection(const DevicesConnection&) = delete;
    DevicesConnection& operator=(const DevicesConnection&) = delete;

    // Waits until the service has answered the first Hello, with the client's standing (or
    // refused, or cannot be reached), at most the bound.
    LinkState waitForGreeting(std::chrono::milliseconds bound);
    LinkState state() const;
    const std::string& socketPath() const { return socketPath_; }

    // The listener, held weakly, receives its family's words and every change of the link.
    void listen(Family family, std::weak_ptr<DevicesListener> listener);
    // Any thread. False unless welcomed and the message went out.
    bool send(const ClientMessage& message);

private:
    struct Conversation;
    enum class Heard { Nothing, Word, Welcomed, Standing, Refused, Ended };

    DevicesConnection(std::string socketPath, Timing timing, std::shared_ptr<MainQueue> readOn)
        : socketPath_(std::move(socketPath))
        , timing_(timing)
        , readOn_(std::move(readOn)) {}
    void run();
    // Talks over one connection until it ends; answers how long to wait before the next.
    std::chrono::milliseconds converse(int fd, std::chrono::milliseconds& retry);
    // What a word received does to the conversation, on whichever thread reads it.
    Heard hear(Conversation& conversation, Received received, const Packet& packet);
    // Lets the main queue read until the conversation ends; false when it cannot watch the
    // descriptor (this thread reads on).
    bool handOver(const std::shared_ptr<Conversation>& conversation);
    void readOnMainQueue(Conversation& conversation);
    static void endOnMainQueue(Conversation& conversation);
    void wake();
    // `answered`: the service's first answer is whole, for those waiting for the greeting.
    void setState(const LinkState& state, bool answered);
    void dispatch(const ServiceMessage& message);
    // False when the connection is being closed.
    bool pause(std::chrono::milliseconds duration);

    const std::string socketPath_;
    const Timing timing_;
    const std::shared_ptr<MainQueue> readOn_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::condition_variable greeted_;
    bool answered_ = false;
    LinkState state_;
    int fd_ = -1; // while welcomed
    std::map<Family, std::weak_ptr<DevicesListener>> listeners_;
    std::thread thread_;
};

} // namespace varnu::linux_backend::devices
