// The system test's own client of the device service, run in the guest as a seat user: it wants
// the volume keys, keeps those it is told to and passes the others, and prints every word the
// service says, one line each, so that the test sees who is served and which keys were asked.
// Also tells whether a keyboard's event device is held by someone (a grab of its own fails).
//
//   varnu-system-client serve [KEY...]   KEY: up, down or mute, the keys to keep
//   varnu-system-client held NODE        exit status 0 when NODE is grabbed by another

#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/devices-link/PacketSocket.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <linux/input.h>
#include <poll.h>
#include <set>
#include <string>
#include <string_view>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace varnu::linux_backend::devices;

const char* nameOf(VolumeKey key) {
    switch (key) {
    case VolumeKey::Up:
        return "up";
    case VolumeKey::Down:
        return "down";
    case VolumeKey::Mute:
        return "mute";
    }
    return "?";
}

std::optional<VolumeKey> keyNamed(std::string_view name) {
    for (auto key : {VolumeKey::Up, VolumeKey::Down, VolumeKey::Mute}) {
        if (name == nameOf(key)) {
            return key;
        }
    }
    return std::nullopt;
}

int serve(const std::set<VolumeKey>& kept) {
    int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    auto address = socketAddress(kServiceSocketPath);
    if (fd < 0 || !address ||
        ::connect(fd, reinterpret_cast<const sockaddr*>(&*address), sizeof *address) != 0) {
        std::printf("unreachable %d\n", errno);
        return 1;
    }
    sendPacket(fd, encode(Hello{}));
    sendPacket(fd, encode(TapWanted{true}));
    Packet packet;
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        ::poll(&readable, 1, -1);
        auto received = receivePacket(fd, packet);
        if (received == Received::Nothing) {
            continue;
        }
        auto message =
            received == Received::Packet ? parseServiceMessage(packet.view()) : std::nullopt;
        if (!message) {
            std::printf("ended\n");
            return 0;
        }
        if (std::holds_alternative<Welcome>(*message)) {
            std::printf("welcome\n");
        } else if (auto* refused = std::get_if<Refused>(&*message)) {
            std::printf("refused %d\n", static_cast<int>(refused->reason));
        } else if (auto* standing = std::get_if<Standing>(&*message)) {
            std::printf("standing %d\n", static_cast<int>(standing->standing));
        } else if (auto* question = std::get_if<Question>(&*message)) {
            bool keep = kept.contains(question->stroke.key);
            sendPacket(fd, encode(Answer{question->id, keep}));
            std::printf("asked %s %s\n", nameOf(question->stroke.key), keep ? "kept" : "passed");
        } else if (auto* notice = std::get_if<Notice>(&*message)) {
            std::printf("notice %s %d\n", nameOf(notice->stroke.key),
                        static_cast<int>(notice->stroke.action));
        }
        std::fflush(stdout);
    }
}

int held(const char* node) {
    int fd = ::open(node, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror(node);
        return 2;
    }
    if (::ioctl(fd, EVIOCGRAB, 1) == 0) {
        ::ioctl(fd, EVIOCGRAB, 0);
        return 1;
    }
    return errno == EBUSY ? 0 : 2;
}

} // namespace

int main(int argc, char** argv) {
    std::string_view command = argc > 1 ? argv[1] : "";
    if (command == "held" && argc == 3) {
        return held(argv[2]);
    }
    if (command == "serve") {
        std::set<VolumeKey> kept;
        for (int i = 2; i < argc; ++i) {
            auto key = keyNamed(argv[i]);
            if (!key) {
                return 2;
            }
            kept.insert(*key);
        }
        return serve(kept);
    }
    std::fprintf(stderr, "usage: varnu-system-client serve [up|down|mute]... | held NODE\n");
    return 2;
}
