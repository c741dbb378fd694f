#pragma once

// Word from the login manager that the system has woken from sleep: logind's PrepareForSleep
// signal with false, on the system bus.
// Implements: a bus connection to poll on, and telling whether a resume came since the last
// look.
// Does not implement: inhibiting sleep, or acting on the resume (DrmDisplays does).
//
// Any client on the bus may send the signal; a forged one only costs a look at the displays.

#include <memory>
#include <string>

struct sd_bus;

namespace varnu::linux_backend {

class ResumeWatch {
public:
    // The system bus, or the bus at this D-Bus address. Nothing when it cannot be reached (no
    // system bus, as in some containers).
    static std::unique_ptr<ResumeWatch> open(const std::string& address = {});
    ~ResumeWatch();
    ResumeWatch(const ResumeWatch&) = delete;
    ResumeWatch& operator=(const ResumeWatch&) = delete;

    int fd() const;
    // The poll events the connection waits for.
    short events() const;
    // Handles what arrived. True when the system resumed since the last call; false also when
    // the bus went away, after which the watch stays quiet.
    bool resumed();

private:
    explicit ResumeWatch(sd_bus* bus);

    sd_bus* bus_;
    bool resumed_ = false;
    bool broken_ = false;
};

} // namespace varnu::linux_backend
