#pragma once

// The device service's server: its clients on the listening socket, and the one among them the
// keyboards are held for.
// Implements: accepting clients (each checked by its peer credentials against the seat, at
// most kMostClientsPerUser of one user and kMostClientsInBackground of all users not in front
// together, so that the user in front always finds room; a few at a time), the Hello within
// kHelloWithin and its version, the key family's words, the standing each client is told;
// choosing the served client (the longest connected one that wants the tap, answers, and whose
// user's session is in front of the seat); following the seat's changes, and ending the
// connections of a user who has no session on the seat any more; the display family, only for
// clients whose user's session is in front of the seat: the list to each that asked for it,
// now, after each change and when its user comes to the front, and DDC/CI transfers, when
// DdcRequests allows them (any other is refused with EPERM, and nothing reaches a bus); ending
// a connection that says anything malformed, oversized or out of turn, and only that
// connection; stopping on SIGTERM or SIGINT, or when the reader stops.
// Does not implement: the keyboards (KeyboardHold), the displays and their buses
// (DisplayHold), who is in front (SeatSessions), where the listening socket comes from
// (DevicesServiceMain). Logs no key and no key code.

#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/devices-service/DisplayHold.h"
#include "platform/linux/devices-service/KeyboardHold.h"
#include "platform/linux/devices-service/SeatSessions.h"

#include <chrono>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <signal.h>
#include <sys/types.h>
#include <vector>

namespace varnu::linux_backend::devices {

class DevicesServer {
public:
    // Varnu takes two (its keys and its displays), varnu-probe as many.
    static constexpr std::size_t kMostClientsPerUser = 6;
    static constexpr std::size_t kMostClientsInBackground = 12;
    static constexpr std::chrono::milliseconds kHelloWithin{1000};

    // Without displays, every transfer is refused with ENODEV and the list is empty.
    DevicesServer(int listenFd, std::unique_ptr<SeatSessions> seat,
                  std::unique_ptr<KeyboardHold> hold, std::unique_ptr<DisplayHold> displays,
                  std::ostream& diagnostics);
    ~DevicesServer();
    DevicesServer(const DevicesServer&) = delete;
    DevicesServer& operator=(const DevicesServer&) = delete;

    // Serves until asked to stop (SIGTERM, SIGINT: 0) or until the keyboards cannot be read
    // any more (1). The signals must be blocked in every thread before the hold started.
    int run();
    // SIGTERM and SIGINT.
    static sigset_t stopSignals();

private:
    using Clock = std::chrono::steady_clock;
    struct Client {
        int fd = -1;
        DisplayHold::ClientId id = 0;
        bool displaysWanted = false;
        // The generation of the display list it was told last.
        std::optional<std::uint32_t> listTold;
        uid_t uid = 0;
        pid_t pid = 0;
        // Unless it has said Hello by then, the connection ends.
        Clock::time_point helloDue;
        bool greeted = false;
        bool tapWanted = false;
        bool answering = true;
        // Its connection ends at the end of the turn.
        bool ending = false;
        std::optional<Standing> told;
    };

    void accept();
    // Why a peer of that user cannot be let in now, if it cannot.
    std::optional<RefusalReason> refusalFor(uid_t uid);
    void receive(std::size_t index);
    // False when the message is out of turn: the connection ends.
    bool handle(Client& client, const ClientMessage& message);
    // Ends the connections marked ending, letting go of the keyboards first if one was served.
    void sweep();
    // How long poll may sleep before a connection that said no Hello is due to end.
    int untilHelloDue();
    void endSilentClients();
    // The current display list, to a client that asked for it and was not told it yet, while
    // its user is in front.
    void tellDisplays(Client& client);
    // Nothing when the transfer was queued; else why not.
    template <typename Request>
    std::optional<std::uint32_t> transfer(const Client& client, const Request& request);
    void takeDisplaySignals();
    void refuse(int fd, RefusalReason reason);
    static void closeRead(int fd);
    // Chooses the served client again and tells each client where it stands.
    void review();
    Standing standingOf(const Client& client) const;
    SeatPresence presenceOf(uid_t uid) const;

    int listenFd_;
    int signalFd_ = -1;
    std::unique_ptr<SeatSessions> seat_;
    std::unique_ptr<KeyboardHold> hold_;
    std::unique_ptr<DisplayHold> displays_;
    std::ostream& diagnostics_;
    DisplayHold::ClientId nextClientId_ = 1;
    std::vector<Client> clients_;
    // Each client's user as the seat last told, asked afresh whenever the seat changes.
    std::map<uid_t, SeatPresence> presence_;
    int servedFd_ = -1;
};

} // namespace varnu::linux_backend::devices
