#include "platform/linux/devices-service/DevicesServiceMain.h"

#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/DevicesServer.h"
#include "platform/linux/devices-service/KeyboardHold.h"
#include "platform/linux/input/TapDevices.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <pthread.h>
#include <string_view>
#include <sys/socket.h>
#include <sys/stat.h>
#include <system_error>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace varnu::linux_backend::devices {
namespace {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;
constexpr int kUsageError = 2;
constexpr int kListenBacklog = 16;
constexpr mode_t kEveryoneMayConnect = 0666;

constexpr std::string_view kUsage =
    "usage: varnu-devices [--socket PATH] [--seat SEAT]\n"
    "\n"
    "Holds the keyboards for the user in front of the seat while that user's Varnu asks for\n"
    "them, and passes every key on that is not a volume key Varnu keeps; sets that user's\n"
    "monitors' volume over DDC/CI. Started by systemd through varnu-devices.socket.\n"
    "  --socket PATH  listen on a socket of its own at PATH instead of systemd's\n"
    "  --seat SEAT    serve the user in front of SEAT (default seat0)\n";

std::string errorText() {
    return std::generic_category().message(errno);
}

// The socket systemd passes, or -1.
int activatedSocket() {
    if (sd_listen_fds(1) != 1 ||
        sd_is_socket_unix(SD_LISTEN_FDS_START, SOCK_SEQPACKET, 1, nullptr, 0) <= 0) {
        return -1;
    }
    return SD_LISTEN_FDS_START;
}

int ownSocket(const std::string& path) {
    auto address = socketAddress(path);
    int fd = address ? ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0) : -1;
    if (fd < 0) {
        return -1;
    }
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0 ||
        ::chmod(path.c_str(), kEveryoneMayConnect) != 0 || ::listen(fd, kListenBacklog) != 0) {
        int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

} // namespace

int runDevicesService(int argc, char** argv, const SeatOpener& openSeat,
                      const HoldSettings& holdSettings, const DrmPaths& displayPaths) {
    std::string socketPath;
    std::string seat = "seat0";
    for (int index = 1; index < argc; ++index) {
        std::string_view argument = argv[index];
        if (argument == "--help" || argument == "-h") {
            std::cout << kUsage;
            return kSuccess;
        }
        if ((argument == "--socket" || argument == "--seat") && index + 1 < argc) {
            (argument == "--socket" ? socketPath : seat) = argv[++index];
            continue;
        }
        std::cerr << "varnu-devices: unknown or incomplete option " << argument << "\n\n" << kUsage;
        return kUsageError;
    }
    int listenFd = socketPath.empty() ? activatedSocket() : ownSocket(socketPath);
    if (listenFd < 0) {
        std::cerr << "varnu-devices: "
                  << (socketPath.empty()
                          ? "no socket to listen on: start it through varnu-devices.socket, "
                            "or give --socket PATH"
                          : "cannot listen on " + socketPath + ": " + errorText())
                  << '\n';
        return kFailure;
    }
    if (socketPath.empty()) {
        // Accepting must never block the server: another peer may have gone in between.
        ::fcntl(listenFd, F_SETFL, ::fcntl(listenFd, F_GETFL) | O_NONBLOCK);
    }
    // Before the reader thread starts, so that it inherits the mask and the signalfd sees them.
    auto stops = DevicesServer::stopSignals();
    ::pthread_sigmask(SIG_BLOCK, &stops, nullptr);

    OnceReporter reporter(&std::cerr);
    auto hold = KeyboardHold::start(holdSettings, reporter);
    if (!hold) {
        std::cerr << "varnu-devices: cannot watch the input devices (udev): " << errorText()
                  << '\n';
        return kFailure;
    }
    auto displays = DisplayHold::start(displayPaths, &std::cerr);
    if (!displays) {
        std::cerr << "varnu-devices: cannot follow the displays: " << errorText() << '\n';
    }
    DevicesServer server(listenFd, openSeat(seat), std::move(hold), std::move(displays), std::cerr);
    int status = server.run();
    if (!socketPath.empty()) {
        ::unlink(socketPath.c_str());
    }
    ::close(listenFd);
    return status;
}

} // namespace varnu::linux_backend::devices
