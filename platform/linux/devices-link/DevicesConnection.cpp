#include "platform/linux/devices-link/DevicesConnection.h"

#include "platform/linux/devices-link/PacketSocket.h"

#include <algorithm>
#include <cerrno>
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

std::shared_ptr<DevicesConnection> DevicesConnection::open(std::string socketPath, Timing timing) {
    std::shared_ptr<DevicesConnection> connection(
        new DevicesConnection(std::move(socketPath), timing));
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
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
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
    pollfd wake{wakeFd_, POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(duration.count()));
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

std::chrono::milliseconds DevicesConnection::converse(int fd, std::chrono::milliseconds& retry) {
    if (!sendPacket(fd, encode(Hello{}))) {
        return retry;
    }
    LinkState state;
    auto wait = retry;
    Packet packet;
    while (!stopping_) {
        pollfd fds[] = {{wakeFd_, POLLIN, 0}, {fd, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            break;
        }
        if (fds[1].revents == 0) {
            continue;
        }
        auto received = receivePacket(fd, packet);
        if (received == Received::Nothing) {
            continue;
        }
        auto message =
            received == Received::Packet ? parseServiceMessage(packet.view()) : std::nullopt;
        if (!message) {
            break;
        }
        if (auto* welcome = std::get_if<Welcome>(&*message)) {
            if (welcome->version != kProtocolVersion) {
                break;
            }
            state.phase = Phase::Welcomed;
            {
                std::lock_guard lock(mutex_);
                fd_ = fd;
            }
            retry = timing_.firstRetry;
            wait = retry;
            // The answer is whole with the standing that follows.
            setState(state, false);
        } else if (auto* refused = std::get_if<Refused>(&*message)) {
            state.phase = Phase::Refused;
            state.refusal = refused->reason;
            state.final = isFinal(refused->reason);
            setState(state, true);
            // Whoever is refused is not let in sooner by asking more often.
            return timing_.longestRetry;
        } else if (auto* standing = std::get_if<Standing>(&*message)) {
            state.standing = standing->standing;
            state.servedProcess = standing->servedProcess;
            setState(state, true);
        } else if (state.phase == Phase::Welcomed) {
            dispatch(*message);
        }
    }
    {
        std::lock_guard lock(mutex_);
        fd_ = -1;
    }
    if (!stopping_) {
        setState(LinkState{}, false);
    }
    return wait;
}

} // namespace varnu::linux_backend::devices
