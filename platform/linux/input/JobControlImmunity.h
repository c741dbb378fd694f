#pragma once

// Keeps job control from stopping a process that holds the keyboards: stopped by Ctrl+Z or by
// reading from its terminal in the background, it would leave nothing to type `fg` with.
// Implements: SIGTSTP, SIGTTIN and SIGTTOU ignored for the object's life, the previous
// dispositions restored after it.
// Does not implement: any other signal (SIGSTOP cannot be ignored).

#include <array>
#include <signal.h>

namespace varnu::linux_backend {

class JobControlImmunity {
public:
    JobControlImmunity();
    ~JobControlImmunity();
    JobControlImmunity(const JobControlImmunity&) = delete;
    JobControlImmunity& operator=(const JobControlImmunity&) = delete;

private:
    static constexpr std::array kJobControlSignals{SIGTSTP, SIGTTIN, SIGTTOU};
    std::array<struct sigaction, kJobControlSignals.size()> previous_{};
};

} // namespace varnu::linux_backend
