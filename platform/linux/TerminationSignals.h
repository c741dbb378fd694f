#pragma once

// SIGTERM and SIGINT turned into a job on the main queue, so that the application can save its
// state (JsonUserDefaults::flush) and quit in order instead of dying mid-write.
// Implements: handlers that only write the signal number into a pipe, and a thread that posts
// the handler to the main queue for each one. The handlers reset themselves when they run, so
// a second signal of the same kind ends the process the default way even if the orderly quit
// hangs.
// Does not implement: other signals, or more than one instance at a time.

#include "platform/Dispatch.h"

#include <functional>
#include <memory>
#include <thread>

namespace varnu::linux_backend {

class TerminationSignals {
public:
    using Handler = std::function<void(int signalNumber)>;

    // Installs the handlers; check installed().
    TerminationSignals(std::shared_ptr<MainQueue> mainQueue, Handler handler);
    // Puts the previous handlers back; jobs already posted no longer call the handler.
    ~TerminationSignals();

    TerminationSignals(const TerminationSignals&) = delete;
    TerminationSignals& operator=(const TerminationSignals&) = delete;

    bool installed() const { return installed_; }

private:
    void watch(int readFd);

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Handler> handler_;
    int writeFd_ = -1;
    bool installed_ = false;
    std::thread watcher_;
};

} // namespace varnu::linux_backend
