#pragma once

// Whether the user's login session is the one in front of the seat, from systemd-logind
// through sd-login. Under fast user switching another user's session becomes active while this
// one keeps running; its keys are not this session's to read or decide.
// Implements: the state of the process's own session, and a descriptor that becomes readable when
// logind's sessions change; outside any session, whether a session of the user's is the one in
// front of seat0. Without logind, always active.
// Does not implement: seats other than the session's own, idle or lock state.

#include <memory>

namespace varnu::linux_backend {

class LoginSession {
public:
    virtual ~LoginSession() = default;
    virtual bool isActive() = 0;
    // Readable when the state may have changed; -1 when it never changes.
    virtual int changeFd() const = 0;
    // After changeFd() was readable, before asking isActive() again.
    virtual void acknowledgeChange() = 0;
};

// The process's logind session, its user's presence on seat0, or one that is always active.
std::unique_ptr<LoginSession> openLoginSession();

} // namespace varnu::linux_backend
