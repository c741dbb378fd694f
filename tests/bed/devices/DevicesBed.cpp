#include "tests/bed/devices/DevicesBed.h"

#include "platform/linux/devices-link/PacketSocket.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <span>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace varnu::bed {
namespace {

using namespace linux_backend::devices;
using std::chrono::milliseconds;

constexpr std::uint8_t kEndedMark = 0;

int connectTo(const std::string& path) {
    auto address = socketAddress(path);
    int fd = address ? ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0) : -1;
    if (fd >= 0 &&
        ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

void writeAll(int fd, const void* data, std::size_t size) {
    [[maybe_unused]] auto written = ::write(fd, data, size);
}

} // namespace

DevicesBed::DevicesBed() {
    char folder[] = "/tmp/varnu-devices-XXXXXX";
    folder_ = ::mkdtemp(folder);
    // Other users' clients reach the socket through it.
    ::chmod(folder_.c_str(), 0755);
    socketPath_ = folder_ + "/devices.socket";
    int script[2];
    if (::pipe2(script, O_CLOEXEC | O_NONBLOCK) == 0) {
        scriptForService_ = script[0];
        script_ = script[1];
    }
}

DevicesBed::~DevicesBed() {
    // As systemd stops it: the service lets go of everything on its own.
    if (service_ > 0) {
        stopService(SIGTERM);
    }
    ::close(script_);
    ::close(scriptForService_);
    ::unlink(socketPath_.c_str());
    ::rmdir(folder_.c_str());
}

void DevicesBed::seat(std::initializer_list<std::pair<uid_t, const char*>> presences) {
    // One write, read as one change.
    std::string lines;
    for (const auto& [user, presence] : presences) {
        lines += std::to_string(user) + " " + presence + "\n";
    }
    seatSaid_ += lines;
    writeAll(script_, lines.data(), lines.size());
}

bool DevicesBed::startService(const std::vector<std::string>& options, int reports) {
    ::unlink(socketPath_.c_str());
    // A service started again reads the seat from the start.
    if (service_ < 0 && started_) {
        writeAll(script_, seatSaid_.data(), seatSaid_.size());
    }
    started_ = true;
    // Made before the fork, so that the child only execs, with the script's reading end as its
    // descriptor 3 and nothing else of the test's: a copy of an emulated keyboard's stream
    // there would keep the keyboard from ever hanging up.
    constexpr int kScriptFd = 3;
    std::vector<std::string> words{VARNU_BED_DEVICES_SERVICE, "--socket", socketPath_,
                                   "--seat-script", std::to_string(kScriptFd)};
    words.insert(words.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    service_ = ::fork();
    if (service_ == 0) {
        if (reports >= 0) {
            ::dup2(reports, STDERR_FILENO);
        }
        ::dup2(scriptForService_, kScriptFd);
        ::close_range(kScriptFd + 1, ~0U, 0);
        ::execv(VARNU_BED_DEVICES_SERVICE, argv.data());
        ::_exit(127);
    }
    // Listening once a connection is taken.
    for (int tries = 0; tries < 500; ++tries) {
        if (int fd = connectTo(socketPath_); fd >= 0) {
            ::close(fd);
            return true;
        }
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

bool DevicesBed::serviceRuns() {
    return service_ > 0 && ::waitpid(service_, nullptr, WNOHANG) == 0;
}

int DevicesBed::stopService(int signal) {
    int status = -1;
    if (service_ > 0) {
        ::kill(service_, signal);
        ::waitpid(service_, &status, 0);
        service_ = -1;
    }
    return status;
}

RawClient::RawClient(const std::string& socketPath)
    : fd_(connectTo(socketPath)) {}

RawClient::~RawClient() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool RawClient::send(const ClientMessage& message) {
    return sendBytes(encode(message).view());
}

bool RawClient::sendBytes(std::span<const std::uint8_t> bytes) {
    return fd_ >= 0 && ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
                           static_cast<ssize_t>(bytes.size());
}

bool RawClient::receiveOne(milliseconds limit) {
    pollfd watched{fd_, POLLIN, 0};
    if (fd_ < 0 || ended_ || ::poll(&watched, 1, static_cast<int>(limit.count())) <= 0) {
        return false;
    }
    Packet packet;
    switch (receivePacket(fd_, packet)) {
    case Received::Packet:
        if (auto message = parseServiceMessage(packet.view())) {
            received.push_back(*message);
        } else {
            ++garbled;
        }
        return true;
    case Received::Nothing:
        return false;
    case Received::Oversized:
        ++garbled;
        return true;
    case Received::Ended:
        ended_ = true;
        return false;
    }
    return false;
}

void RawClient::receiveFor(milliseconds limit) {
    receiveUntil([] { return false; }, limit);
}

ClientOfUser::ClientOfUser(const std::string& socketPath, uid_t user,
                           std::vector<ClientMessage> afterWelcome, int connections) {
    int results[2];
    int stop[2];
    if (::pipe2(results, O_CLOEXEC) != 0 || ::pipe2(stop, O_CLOEXEC) != 0) {
        return;
    }
    child_ = ::fork();
    if (child_ == 0) {
        // Nothing else of the test's: another child's stop or a socket the test closes must
        // end when the test closes them.
        int low = std::min(results[1], stop[0]);
        int high = std::max(results[1], stop[0]);
        ::close_range(3, low - 1, 0);
        ::close_range(low + 1, high - 1, 0);
        ::close_range(high + 1, ~0U, 0);
        if (::setgid(user) != 0 || ::setuid(user) != 0) {
            ::_exit(1);
        }
        std::vector<pollfd> watched{{stop[0], POLLIN, 0}};
        for (int connection = 0; connection < connections; ++connection) {
            int fd = connectTo(socketPath);
            sendPacket(fd, encode(Hello{}));
            watched.push_back({fd, POLLIN, 0});
        }
        for (;;) {
            ::poll(watched.data(), watched.size(), -1);
            // What the service said before the stop is read first.
            bool heard = false;
            for (auto& each : std::span(watched).subspan(1)) {
                Packet packet;
                if (each.revents == 0) {
                    continue;
                }
                heard = true;
                if (receivePacket(each.fd, packet) != Received::Packet) {
                    writeAll(results[1], &kEndedMark, 1);
                    ::close(each.fd);
                    each.fd = -1;
                    continue;
                }
                if (parseServiceMessage(packet.view()) == ServiceMessage{Welcome{}}) {
                    for (const auto& message : afterWelcome) {
                        sendPacket(each.fd, encode(message));
                    }
                }
                auto size = static_cast<std::uint8_t>(packet.size);
                writeAll(results[1], &size, 1);
                writeAll(results[1], packet.bytes.data(), packet.size);
            }
            if (!heard) {
                ::_exit(0);
            }
        }
    }
    ::close(results[1]);
    ::close(stop[0]);
    results_ = results[0];
    // The child stops when this end closes.
    stop_ = stop[1];
}

ClientOfUser::~ClientOfUser() {
    finish();
}

bool ClientOfUser::takeOne(milliseconds limit) {
    pollfd watched{results_, POLLIN, 0};
    std::uint8_t size = 0;
    if (results_ < 0 || ::poll(&watched, 1, static_cast<int>(limit.count())) <= 0 ||
        ::read(results_, &size, 1) != 1) {
        return false;
    }
    if (size == kEndedMark) {
        ++heard_.ended;
        return true;
    }
    Packet packet;
    packet.size = size;
    if (::read(results_, packet.bytes.data(), size) != size) {
        return false;
    }
    if (auto message = parseServiceMessage(packet.view())) {
        heard_.said.push_back(*message);
    }
    return true;
}

ClientOfUser::Heard ClientOfUser::finish() {
    if (child_ <= 0) {
        return heard_;
    }
    // What the child has written so far, then it is told to stop.
    std::this_thread::sleep_for(milliseconds(50));
    ::close(stop_);
    while (takeOne(milliseconds(1000))) {
    }
    ::close(results_);
    results_ = -1;
    ::waitpid(child_, nullptr, 0);
    child_ = -1;
    return heard_;
}

} // namespace varnu::bed
