#include "platform/linux/TerminationSignals.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGINT};
// Written by the destructor to end the watcher; no signal has the number 0.
constexpr unsigned char kStopWatching = 0;

// The write end of the pipe, read by the signal handler, so a lock-free atomic and nothing else.
std::atomic<int> gSignalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);
std::atomic<bool> gWatching{false};

struct sigaction gPrevious[2];

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const int fd = gSignalPipe.load();
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

struct SignalPipe {
    int read = -1;
    int write = -1;
};

// Made once and never closed. A handler already running on another thread when the old
// handlers are put back may have loaded the write end's number and write a moment later:
// had the pipe been closed, the number could by then belong to another file.
SignalPipe signalPipe() {
    static const SignalPipe pipe = [] {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            std::fprintf(stderr, "varnu: cannot watch for termination signals: %s\n",
                         std::strerror(errno));
            return SignalPipe{};
        }
        // A full pipe must never block a handler.
        ::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
        gSignalPipe.store(fds[1]);
        return SignalPipe{fds[0], fds[1]};
    }();
    return pipe;
}

} // namespace

TerminationSignals::TerminationSignals(std::shared_ptr<MainQueue> mainQueue, Handler handler)
    : mainQueue_(std::move(mainQueue))
    , handler_(std::make_shared<Handler>(std::move(handler))) {
    bool expected = false;
    if (!gWatching.compare_exchange_strong(expected, true)) {
        std::fprintf(stderr, "varnu: termination signals are already being watched\n");
        return;
    }
    const SignalPipe pipe = signalPipe();
    if (pipe.read < 0) {
        gWatching.store(false);
        return;
    }
    writeFd_ = pipe.write;
    watcher_ = std::thread([this, fd = pipe.read] { watch(fd); });
    struct sigaction action {};
    action.sa_handler = &onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &action, &gPrevious[i]);
    }
    installed_ = true;
}

TerminationSignals::~TerminationSignals() {
    if (!installed_) {
        return;
    }
    for (std::size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], &gPrevious[i], nullptr);
    }
    // The watcher drains the pipe, so a full one only has to wait for it.
    while (::write(writeFd_, &kStopWatching, 1) != 1 && (errno == EINTR || errno == EAGAIN)) {
        std::this_thread::yield();
    }
    watcher_.join();
    gWatching.store(false);
}

void TerminationSignals::watch(int readFd) {
    const std::weak_ptr<Handler> handler = handler_;
    for (;;) {
        unsigned char byte = 0;
        const ssize_t count = ::read(readFd, &byte, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0 || byte == kStopWatching) {
            return;
        }
        mainQueue_->async([handler, signalNumber = static_cast<int>(byte)] {
            if (auto alive = handler.lock()) {
                (*alive)(signalNumber);
            }
        });
    }
}

} // namespace varnu::linux_backend
