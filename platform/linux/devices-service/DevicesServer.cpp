#include "platform/linux/devices-service/DevicesServer.h"

#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/DdcRequests.h"

#include <cerrno>
#include <csignal>
#include <map>
#include <ostream>
#include <poll.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace varnu::linux_backend::devices {
namespace {

// A client that floods the socket is read this many messages at a time, so that the others and
// the seat's changes get their turn.
constexpr int kMessagesPerTurn = 64;

} // namespace

DevicesServer::DevicesServer(int listenFd, std::unique_ptr<SeatSessions> seat,
                             std::unique_ptr<KeyboardHold> hold,
                             std::unique_ptr<DisplayHold> displays, std::ostream& diagnostics)
    : listenFd_(listenFd)
    , seat_(std::move(seat))
    , hold_(std::move(hold))
    , displays_(std::move(displays))
    , diagnostics_(diagnostics) {
    auto stops = stopSignals();
    signalFd_ = ::signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
}

sigset_t DevicesServer::stopSignals() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    return stops;
}

DevicesServer::~DevicesServer() {
    // No keyboard is held for a socket that is about to close.
    hold_->serve(-1);
    hold_.reset();
    for (const auto& client : clients_) {
        ::close(client.fd);
    }
    if (signalFd_ >= 0) {
        ::close(signalFd_);
    }
}

int DevicesServer::run() {
    for (;;) {
        std::vector<pollfd> fds{{signalFd_, POLLIN, 0},
                                {hold_->signalFd(), POLLIN, 0},
                                {listenFd_, POLLIN, 0},
                                {seat_->changeFd(), POLLIN, 0},
                                {displays_ ? displays_->signalFd() : -1, POLLIN, 0}};
        constexpr std::size_t kFirstClient = 5;
        for (const auto& client : clients_) {
            fds.push_back({client.fd, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            diagnostics_ << "varnu-devices: " << std::generic_category().message(errno) << '\n';
            return 1;
        }
        if (fds[0].revents != 0) {
            return 0;
        }
        if (fds[1].revents != 0) {
            auto signals = hold_->takeSignals();
            if (signals.readerStopped) {
                diagnostics_ << "varnu-devices: stopped reading the keyboards\n";
                return 1;
            }
            for (auto& client : clients_) {
                client.answering = client.answering && client.fd != signals.notAnswering;
            }
            review();
        }
        if (fds[3].revents != 0) {
            seat_->acknowledgeChange();
            review();
        }
        if (fds[4].revents != 0) {
            takeDisplaySignals();
        }
        // A client may go while others are read: follow them by descriptor.
        std::vector<int> ready;
        for (std::size_t index = kFirstClient; index < fds.size(); ++index) {
            if (fds[index].revents != 0) {
                ready.push_back(fds[index].fd);
            }
        }
        for (int fd : ready) {
            for (std::size_t index = 0; index < clients_.size(); ++index) {
                if (clients_[index].fd == fd) {
                    receive(index);
                    break;
                }
            }
        }
        if (fds[2].revents != 0) {
            accept();
        }
    }
}

void DevicesServer::refuse(int fd, RefusalReason reason) {
    sendPacket(fd, encode(Refused{reason}));
    closeRead(fd);
}

void DevicesServer::closeRead(int fd) {
    // A socket closed with words still unread makes the peer's next read fail with
    // ECONNRESET before it can read what it was sent last (the refusal's reason).
    Packet packet;
    for (int turn = 0; turn < kMessagesPerTurn; ++turn) {
        if (receivePacket(fd, packet) != Received::Packet) {
            break;
        }
    }
    ::close(fd);
}

void DevicesServer::accept() {
    for (;;) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        auto peer = peerCredentials(fd);
        if (!peer) {
            ::close(fd);
        } else if (clients_.size() >= kMostClients) {
            refuse(fd, RefusalReason::TooManyClients);
        } else if (!seat_->available()) {
            refuse(fd, RefusalReason::NoLoginManager);
        } else if (seat_->presence(peer->uid) == SeatPresence::Absent) {
            refuse(fd, RefusalReason::NotAtSeat);
        } else {
            Client client;
            client.fd = fd;
            client.id = nextClientId_++;
            client.uid = peer->uid;
            clients_.push_back(client);
        }
    }
}

void DevicesServer::receive(std::size_t index) {
    Packet packet;
    for (int turn = 0; turn < kMessagesPerTurn; ++turn) {
        auto received = receivePacket(clients_[index].fd, packet);
        if (received == Received::Nothing) {
            return;
        }
        auto message =
            received == Received::Packet ? parseClientMessage(packet.view()) : std::nullopt;
        if (!message || !handle(clients_[index], *message)) {
            drop(index);
            return;
        }
    }
}

bool DevicesServer::handle(Client& client, const ClientMessage& message) {
    if (auto* hello = std::get_if<Hello>(&message)) {
        if (client.greeted) {
            return false;
        }
        if (hello->version != kProtocolVersion) {
            sendPacket(client.fd, encode(Refused{RefusalReason::UnsupportedVersion}));
            return false;
        }
        client.greeted = true;
        sendPacket(client.fd, encode(Welcome{}));
        review();
        return true;
    }
    if (!client.greeted) {
        return false;
    }
    // The displays' words come from Varnu's DDC/CI thread, which goes on while its main thread
    // may hang: they say nothing of whether it answers questions.
    if (std::holds_alternative<DisplaysWanted>(message)) {
        client.displaysWanted = true;
        sendDisplays(client);
        return true;
    }
    if (auto* write = std::get_if<DdcWrite>(&message)) {
        if (auto refused = transfer(client, *write)) {
            sendPacket(client.fd, encode(DdcResult{write->id, *refused, {}}));
        }
        return true;
    }
    if (auto* read = std::get_if<DdcRead>(&message)) {
        if (auto refused = transfer(client, *read)) {
            sendPacket(client.fd, encode(DdcResult{read->id, *refused, {}}));
        }
        return true;
    }
    // Any word of the keys from a client shows it answers again.
    bool wasAnswering = std::exchange(client.answering, true);
    if (auto* tap = std::get_if<TapWanted>(&message)) {
        client.tapWanted = tap->wanted;
    } else if (auto* answer = std::get_if<Answer>(&message); answer && client.fd == servedFd_) {
        hold_->answer(*answer);
    }
    if (!wasAnswering || std::holds_alternative<TapWanted>(message)) {
        review();
    }
    return true;
}

template <typename Request>
std::optional<std::uint32_t> DevicesServer::transfer(const Client& client, const Request& request) {
    // The same user's other programs are no less trusted than its Varnu; another session's
    // are not served.
    if (!isAllowed(request) || seat_->presence(client.uid) != SeatPresence::Active) {
        return EPERM;
    }
    if (!displays_) {
        return ENODEV;
    }
    return displays_->transfer(client.id, request);
}

void DevicesServer::sendDisplays(const Client& client) {
    // Told once there is a list.
    if (displays_ && !displays_->ready()) {
        return;
    }
    auto entries = displays_ ? displays_->entries() : std::vector<DisplayEntry>{DisplayEntry{}};
    for (const auto& entry : entries) {
        sendPacket(client.fd, encode(entry));
    }
}

void DevicesServer::takeDisplaySignals() {
    auto signals = displays_->takeSignals();
    for (const auto& client : clients_) {
        if (signals.listChanged && client.displaysWanted) {
            sendDisplays(client);
        }
        for (const auto& [id, result] : signals.results) {
            if (id == client.id) {
                sendPacket(client.fd, encode(result));
            }
        }
    }
}

void DevicesServer::drop(std::size_t index) {
    int fd = clients_[index].fd;
    if (displays_) {
        displays_->forget(clients_[index].id);
    }
    clients_.erase(clients_.begin() + static_cast<std::ptrdiff_t>(index));
    // Let go of the socket before closing it: its number may be the next client's.
    if (fd == servedFd_) {
        review();
    }
    closeRead(fd);
}

ClientStanding DevicesServer::standingOf(const Client& client, SeatPresence presence) const {
    if (!client.tapWanted) {
        return ClientStanding::TapNotWanted;
    }
    if (!client.answering) {
        return ClientStanding::NotAnswering;
    }
    if (presence != SeatPresence::Active) {
        return ClientStanding::SessionInactive;
    }
    return client.fd == servedFd_ ? ClientStanding::Served : ClientStanding::OtherClientServed;
}

void DevicesServer::review() {
    std::map<uid_t, SeatPresence> presence;
    for (const auto& client : clients_) {
        if (!presence.contains(client.uid)) {
            presence[client.uid] = seat_->presence(client.uid);
        }
    }
    int chosen = -1;
    for (const auto& client : clients_) {
        if (client.greeted && client.tapWanted && client.answering &&
            presence[client.uid] == SeatPresence::Active) {
            chosen = client.fd;
            break;
        }
    }
    if (chosen != servedFd_) {
        servedFd_ = chosen;
        hold_->serve(chosen);
    }
    for (auto& client : clients_) {
        auto standing = standingOf(client, presence[client.uid]);
        if (client.greeted && client.told != standing) {
            client.told = standing;
            sendPacket(client.fd, encode(Standing{standing}));
        }
    }
}

} // namespace varnu::linux_backend::devices
