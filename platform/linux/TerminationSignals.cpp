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

// Read by the signal handler, so a lock-free atomic and nothing else.
std::atomic<int> gSignalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free);

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

} // namespace

TerminationSignals::TerminationSignals(std::shared_ptr<MainQueue> mainQueue, Handler handler)
    : mainQueue_(std::move(mainQueue))
    , handler_(std::make_shared<Handler>(std::move(handler))) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        std::fprintf(stderr, "varnu: cannot watch for termination signals: %s\n",
                     std::strerror(errno));
        return;
    }
    readFd_ = fds[0];
    writeFd_ = fds[1];
    // A full pipe must never block a handler.
    ::fcntl(writeFd_, F_SETFL, ::fcntl(writeFd_, F_GETFL) | O_NONBLOCK);
    int expected = -1;
    if (!gSignalPipe.compare_exchange_strong(expected, writeFd_)) {
        std::fprintf(stderr, "varnu: termination signals are already being watched\n");
        return;
    }
    watcher_ = std::thread([this, fd = readFd_] { watch(fd); });
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
    if (installed_) {
        for (std::size_t i = 0; i < std::size(kSignals); ++i) {
            ::sigaction(kSignals[i], &gPrevious[i], nullptr);
        }
        gSignalPipe.store(-1);
    }
    // Closing the write end ends the watcher's read with end-of-file.
    if (writeFd_ >= 0) {
        ::close(writeFd_);
    }
    if (watcher_.joinable()) {
        watcher_.join();
    }
    if (readFd_ >= 0) {
        ::close(readFd_);
    }
}

void TerminationSignals::watch(int readFd) {
    const std::weak_ptr<Handler> handler = handler_;
    for (;;) {
        unsigned char byte = 0;
        const ssize_t count = ::read(readFd, &byte, 1);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
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
