#include "platform/linux/devices-link/DevicesConnection.h"

#include "platform/linux/devices-link/PacketSocket.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace varnu::linux_backend::devices {
namespace {

using Phase = LinkState::Phase;

int connectTo(const std::string& path, int& error) {
    auto address = socketAddress(path);
    int fd = address ? ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0) : -1;
    if (fd < 0) {
        error = errno;
        return -1;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        error = errno;
        ::close(fd);
        return -1;
    }
    return fd;
}

// A refusal that no later try can change.
bool isFinal(RefusalReason reason) {
    return reason == RefusalReason::NoLoginManager || reason == RefusalReason::UnsupportedVersion;
}

} // namespace

std::shared_ptr<DevicesConnection> DevicesConnection::open(std::string socketPath, Timing timing,
                                                           std::shared_ptr<MainQueue> readOn) {
    std::shared_ptr<DevicesConnection> connection(
        new DevicesConnection(std::move(socketPath), timing, std::move(readOn)));
    connection->wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (connection->wakeFd_ < 0) {
        return nullptr;
    }
    connection->thread_ = std::thread([raw = connection.get()] { raw->run(); });
    return connection;
}

DevicesConnection::~DevicesConnection() {
    stopping_ = true;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

LinkState DevicesConnection::waitForGreeting(std::chrono::milliseconds bound) {
    std::unique_lock lock(mutex_);
    greeted_.wait_for(lock, bound, [this] { return answered_; });
    return state_;
}

LinkState DevicesConnection::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

void DevicesConnection::listen(Family family, std::weak_ptr<DevicesListener> listener) {
    std::lock_guard lock(mutex_);
    listeners_[family] = std::move(listener);
}

bool DevicesConnection::send(const ClientMessage& message) {
    auto packet = encode(message);
    std::lock_guard lock(mutex_);
    return fd_ >= 0 && sendPacket(fd_, packet);
}

void DevicesConnection::setState(const LinkState& state, bool answered) {
    std::vector<std::shared_ptr<DevicesListener>> listeners;
    {
        std::lock_guard lock(mutex_);
        state_ = state;
        answered_ = answered_ || answered;
        for (auto& [family, weak] : listeners_) {
            if (auto listener = weak.lock()) {
                listeners.push_back(std::move(listener));
            }
        }
    }
    greeted_.notify_all();
    for (auto& listener : listeners) {
        listener->linkChanged(state, *this);
    }
}

void DevicesConnection::dispatch(const ServiceMessage& message) {
    auto family = familyOf(kindOf(message));
    std::shared_ptr<DevicesListener> listener;
    {
        std::lock_guard lock(mutex_);
        if (auto found = listeners_.find(family); found != listeners_.end()) {
            listener = found->second.lock();
        }
    }
    if (listener) {
        listener->received(message);
    }
}

bool DevicesConnection::pause(std::chrono::milliseconds duration) {
    if (stopping_) {
        return false;
    }
    pollfd woken{wakeFd_, POLLIN, 0};
    if (::poll(&woken, 1, static_cast<int>(duration.count())) > 0) {
        std::uint64_t count = 0;
        [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
    }
    return !stopping_;
}

void DevicesConnection::run() {
    auto retry = timing_.firstRetry;
    while (!stopping_) {
        int error = 0;
        int fd = connectTo(socketPath_, error);
        std::chrono::milliseconds wait = retry;
        if (fd < 0) {
            LinkState unreachable;
            unreachable.phase = Phase::Unreachable;
            unreachable.error = error;
            setState(unreachable, true);
        } else {
            wait = converse(fd, retry);
            ::close(fd);
        }
        if (state().final) {
            // Nothing will change: wait only to be closed.
            while (pause(std::chrono::hours(1))) {
            }
            return;
        }
        if (!pause(wait)) {
            return;
        }
        retry = std::min(retry * 2, timing_.longestRetry);
    }
}

// One connection's words: read on the connection's thread, or, once handed over, on the main
// queue, which then has the state and the copy of the descriptor to itself.
struct DevicesConnection::Conversation {
    explicit Conversation(int fd)
        : fd(fd) {}
    ~Conversation() {
        if (mainFd >= 0) {
            ::close(mainFd);
        }
    }
    const int fd;
    LinkState state;
    // While the main queue reads: its copy of the descriptor and its watch, main thread only.
    int mainFd = -1;
    std::shared_ptr<Cancellable> watch;
    // Set by the main queue, then the connection's thread is woken.
    std::atomic<bool> ended{false};
    std::atomic<bool> declined{false};
    std::atomic<bool> refused{false};
};

DevicesConnection::Heard DevicesConnection::hear(Conversation& conversation, Received received,
                                                 const Packet& packet) {
    if (received == Received::Nothing) {
        return Heard::Nothing;
    }
    auto message = received == Received::Packet ? parseServiceMessage(packet.view()) : std::nullopt;
    if (!message) {
        return Heard::Ended;
    }
    auto& state = conversation.state;
    if (auto* welcome = std::get_if<Welcome>(&*message)) {
        if (welcome->version != kProtocolVersion || state.phase == Phase::Welcomed) {
            return Heard::Ended;
        }
        state.phase = Phase::Welcomed;
        {
            std::lock_guard lock(mutex_);
            fd_ = conversation.fd;
        }
        // The answer is whole with the standing that follows.
        setState(state, false);
        return Heard::Welcomed;
    }
    if (auto* refused = std::get_if<Refused>(&*message)) {
        state.phase = Phase::Refused;
        state.refusal = refused->reason;
        state.final = isFinal(refused->reason);
        setState(state, true);
        return Heard::Refused;
    }
    if (auto* standing = std::get_if<Standing>(&*message)) {
        state.standing = standing->standing;
        state.servedProcess = standing->servedProcess;
        setState(state, true);
        return Heard::Standing;
    }
    if (state.phase == Phase::Welcomed) {
        dispatch(*message);
    }
    return Heard::Word;
}

std::chrono::milliseconds DevicesConnection::converse(int fd, std::chrono::milliseconds& retry) {
    if (!sendPacket(fd, encode(Hello{}))) {
        return retry;
    }
    auto conversation = std::make_shared<Conversation>(fd);
    auto wait = retry;
    Packet packet;
    bool offered = false;
    while (!stopping_) {
        pollfd fds[] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        auto heard = hear(*conversation, receivePacket(fd, packet), packet);
        if (heard == Heard::Ended) {
            break;
        }
        if (heard == Heard::Refused) {
            conversation->refused = true;
            break;
        }
        if (heard == Heard::Welcomed) {
            retry = timing_.firstRetry;
            wait = retry;
        }
        // Welcomed and told where it stands: from now on the main queue reads, if it can.
        if (heard == Heard::Standing && readOn_ && !offered) {
            offered = true;
            if (handOver(conversation)) {
                break;
            }
        }
    }
    // Whoever is refused is not let in sooner by asking more often.
    if (conversation->refused) {
        wait = timing_.longestRetry;
    }
    // The main queue's copy reads the end too, and lets go of it.
    ::shutdown(fd, SHUT_RDWR);
    {
        std::lock_guard lock(mutex_);
        fd_ = -1;
    }
    if (!stopping_ && !conversation->refused) {
        setState(LinkState{}, false);
    }
    return wait;
}

bool DevicesConnection::handOver(const std::shared_ptr<Conversation>& conversation) {
    conversation->mainFd = ::fcntl(conversation->fd, F_DUPFD_CLOEXEC, 0);
    if (conversation->mainFd < 0) {
        return false;
    }
    readOn_->async([weak = weak_from_this(), conversation] {
        auto self = weak.lock();
        if (self) {
            conversation->watch =
                self->readOn_->whenReadable(conversation->mainFd, [weak, conversation] {
                    if (auto self = weak.lock()) {
                        self->readOnMainQueue(*conversation);
                    } else {
                        endOnMainQueue(*conversation);
                    }
                });
        }
        if (!conversation->watch) {
            conversation->declined = true;
            endOnMainQueue(*conversation);
            if (self) {
                self->wake();
            }
        }
    });
    // Until the main queue declines or reads the end, or the connection closes.
    while (!stopping_ && !conversation->ended && !conversation->declined) {
        pause(std::chrono::hours(1));
    }
    return !conversation->declined;
}

void DevicesConnection::readOnMainQueue(Conversation& conversation) {
    Packet packet;
    for (;;) {
        auto heard = hear(conversation, receivePacket(conversation.mainFd, packet), packet);
        if (heard == Heard::Nothing) {
            return;
        }
        if (heard == Heard::Ended || heard == Heard::Refused || heard == Heard::Welcomed) {
            conversation.refused = heard == Heard::Refused;
            endOnMainQueue(conversation);
            wake();
            return;
        }
    }
}

void DevicesConnection::endOnMainQueue(Conversation& conversation) {
    if (conversation.watch) {
        conversation.watch->cancel();
    }
    if (conversation.mainFd >= 0) {
        ::close(conversation.mainFd);
        conversation.mainFd = -1;
    }
    conversation.ended = true;
}

void DevicesConnection::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

} // namespace varnu::linux_backend::devices
