#include "platform/linux/devices-service/DevicesServer.h"

#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/DdcRequests.h"

#include <algorithm>
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

// A client that floods the socket is read this many messages at a time, and a flood of peers
// taken this many at a time, so that the others and the seat's changes get their turn.
constexpr int kMessagesPerTurn = 64;
constexpr int kAcceptsPerTurn = 8;

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
        if (::poll(fds.data(), fds.size(), untilHelloDue()) < 0) {
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
        // Clients end only at the end of the turn, so each is where poll saw it.
        for (std::size_t index = kFirstClient; index < fds.size(); ++index) {
            if (fds[index].revents != 0) {
                receive(index - kFirstClient);
            }
        }
        if (fds[2].revents != 0) {
            accept();
        }
        endSilentClients();
        sweep();
    }
}

int DevicesServer::untilHelloDue() {
    std::optional<Clock::time_point> due;
    for (const auto& client : clients_) {
        if (!client.greeted && (!due || client.helloDue < *due)) {
            due = client.helloDue;
        }
    }
    if (!due) {
        return -1;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*due - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

void DevicesServer::endSilentClients() {
    auto now = Clock::now();
    for (auto& client : clients_) {
        client.ending = client.ending || (!client.greeted && now >= client.helloDue);
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
    for (int turn = 0; turn < kAcceptsPerTurn; ++turn) {
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            return;
        }
        auto peer = peerCredentials(fd);
        if (!peer) {
            ::close(fd);
        } else if (auto refusal = refusalFor(peer->uid)) {
            refuse(fd, *refusal);
        } else {
            Client client;
            client.fd = fd;
            client.id = nextClientId_++;
            client.uid = peer->uid;
            client.pid = peer->pid;
            client.helloDue = Clock::now() + kHelloWithin;
            clients_.push_back(client);
        }
    }
}

std::optional<RefusalReason> DevicesServer::refusalFor(uid_t uid) {
    if (!seat_->available()) {
        return RefusalReason::NoLoginManager;
    }
    auto presence = seat_->presence(uid);
    if (presence == SeatPresence::Absent) {
        return RefusalReason::NotAtSeat;
    }
    presence_[uid] = presence;
    std::size_t ofUser = 0;
    std::size_t inBackground = 0;
    for (const auto& client : clients_) {
        ofUser += client.uid == uid ? 1 : 0;
        inBackground += presenceOf(client.uid) != SeatPresence::Active ? 1 : 0;
    }
    // The user in front always finds room: the others share what is left of it.
    if (ofUser >= kMostClientsPerUser ||
        (presence != SeatPresence::Active && inBackground >= kMostClientsInBackground)) {
        return RefusalReason::TooManyClients;
    }
    return std::nullopt;
}

SeatPresence DevicesServer::presenceOf(uid_t uid) const {
    auto found = presence_.find(uid);
    return found == presence_.end() ? SeatPresence::Absent : found->second;
}

void DevicesServer::receive(std::size_t index) {
    if (clients_[index].ending) {
        return;
    }
    Packet packet;
    for (int turn = 0; turn < kMessagesPerTurn; ++turn) {
        auto received = receivePacket(clients_[index].fd, packet);
        if (received == Received::Nothing) {
            return;
        }
        auto message =
            received == Received::Packet ? parseClientMessage(packet.view()) : std::nullopt;
        if (!message || !handle(clients_[index], *message)) {
            clients_[index].ending = true;
        }
        if (clients_[index].ending) {
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
        tellDisplays(client);
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
    if (!isAllowed(request) || presenceOf(client.uid) != SeatPresence::Active) {
        return EPERM;
    }
    if (!displays_) {
        return ENODEV;
    }
    return displays_->transfer(client.id, request);
}

void DevicesServer::tellDisplays(Client& client) {
    // Told once there is a list.
    if (!client.displaysWanted || client.ending || presenceOf(client.uid) != SeatPresence::Active ||
        (displays_ && !displays_->ready())) {
        return;
    }
    const std::uint32_t generation = displays_ ? displays_->generation() : 0;
    if (client.listTold == generation) {
        return;
    }
    client.listTold = generation;
    auto entries = displays_ ? displays_->entries() : std::vector<DisplayEntry>{DisplayEntry{}};
    for (const auto& entry : entries) {
        sendPacket(client.fd, encode(entry));
    }
}

void DevicesServer::takeDisplaySignals() {
    auto signals = displays_->takeSignals();
    for (auto& client : clients_) {
        if (signals.listChanged) {
            tellDisplays(client);
        }
        for (const auto& [id, result] : signals.results) {
            if (id == client.id) {
                sendPacket(client.fd, encode(result));
            }
        }
    }
}

void DevicesServer::sweep() {
    // A review may end more (a user who left the seat).
    for (;;) {
        auto ends = std::stable_partition(clients_.begin(), clients_.end(),
                                          [](const Client& client) { return !client.ending; });
        if (ends == clients_.end()) {
            return;
        }
        std::vector<Client> ended(ends, clients_.end());
        clients_.erase(ends, clients_.end());
        bool wasServed = false;
        for (const auto& client : ended) {
            if (displays_) {
                displays_->forget(client.id);
            }
            wasServed = wasServed || client.fd == servedFd_;
        }
        // Let go of the socket before closing it: its number may be the next client's.
        if (wasServed) {
            review();
        }
        for (const auto& client : ended) {
            closeRead(client.fd);
        }
    }
}

Standing DevicesServer::standingOf(const Client& client) const {
    // Programs of one user cannot be told apart: each is told which of them is served.
    auto served = std::find_if(clients_.begin(), clients_.end(),
                               [this](const Client& each) { return each.fd == servedFd_; });
    Standing standing;
    if (served != clients_.end() && served->uid == client.uid) {
        standing.servedProcess = static_cast<std::uint32_t>(served->pid);
    }
    if (!client.tapWanted) {
        standing.standing = ClientStanding::TapNotWanted;
    } else if (!client.answering) {
        standing.standing = ClientStanding::NotAnswering;
    } else if (presenceOf(client.uid) != SeatPresence::Active) {
        standing.standing = ClientStanding::SessionInactive;
    } else {
        standing.standing =
            client.fd == servedFd_ ? ClientStanding::Served : ClientStanding::OtherClientServed;
    }
    return standing;
}

void DevicesServer::review() {
    presence_.clear();
    for (auto& client : clients_) {
        if (!presence_.contains(client.uid)) {
            presence_[client.uid] = seat_->presence(client.uid);
        }
        // Its user logged out of the seat: nothing more is done for it.
        if (!client.ending && presence_[client.uid] == SeatPresence::Absent) {
            sendPacket(client.fd, encode(Refused{RefusalReason::NotAtSeat}));
            client.ending = true;
        }
    }
    int chosen = -1;
    for (const auto& client : clients_) {
        if (!client.ending && client.greeted && client.tapWanted && client.answering &&
            presenceOf(client.uid) == SeatPresence::Active) {
            chosen = client.fd;
            break;
        }
    }
    if (chosen != servedFd_) {
        servedFd_ = chosen;
        hold_->serve(chosen);
    }
    for (auto& client : clients_) {
        auto standing = standingOf(client);
        if (!client.ending && client.greeted && client.told != standing) {
            client.told = standing;
            sendPacket(client.fd, encode(standing));
        }
        // Its user left the front: no bus stays held for it.
        if (displays_ && presenceOf(client.uid) != SeatPresence::Active) {
            displays_->release(client.id);
        }
        tellDisplays(client);
    }
}

} // namespace varnu::linux_backend::devices
