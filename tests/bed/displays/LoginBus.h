#pragma once

// A D-Bus daemon of the test's own standing in for the system bus, on which the test says what
// logind says when the system wakes from sleep.
// Needs dbus-daemon; address() is empty without it. The destructor stops the daemon.

#include <string>
#include <sys/types.h>

namespace varnu::bed {

class LoginBus {
public:
    LoginBus();
    ~LoginBus();
    LoginBus(const LoginBus&) = delete;
    LoginBus& operator=(const LoginBus&) = delete;

    const std::string& address() const { return address_; }
    // logind's PrepareForSleep(false): the system has resumed. True when it was sent.
    bool resume();

private:
    std::string folder_;
    std::string address_;
    pid_t daemon_ = -1;
};

} // namespace varnu::bed
