#pragma once

// Who is in front of a seat: the device service serves only the user whose session is the
// active one there. Desktop programs often run in the user's service manager, outside any login
// session, so the peer's user is asked about, never the peer's own session.
// Implements: the interface the service asks (tests play sessions on it), and the one over
// systemd-logind through sd-login (sd_uid_is_on_seat, and a monitor that wakes on every change
// of seats, sessions and users).
// Does not implement: idle or lock state, seats the service was not given.

#include <memory>
#include <string>
#include <sys/types.h>

namespace varnu::linux_backend::devices {

enum class SeatPresence {
    Active,   // a session of the user's is the seat's active one
    Inactive, // the user has a session on the seat, but another is in front
    Absent,   // no session of the user's on the seat
};

class SeatSessions {
public:
    virtual ~SeatSessions() = default;
    // False without a login manager: nobody can then be told apart, so nobody is served.
    virtual bool available() = 0;
    virtual SeatPresence presence(uid_t user) = 0;
    // Readable when the answers may have changed; -1 when they never change.
    virtual int changeFd() const = 0;
    // After changeFd() was readable, before asking again.
    virtual void acknowledgeChange() = 0;
};

std::unique_ptr<SeatSessions> openLogindSeat(std::string seat);

} // namespace varnu::linux_backend::devices
