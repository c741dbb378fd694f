#include "platform/linux/devices-link/PacketSocket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace varnu::linux_backend::devices {

Received receivePacket(int fd, Packet& packet) {
    // MSG_TRUNC answers the packet's real length, so a longer one is known for what it is.
    ssize_t length = ::recv(fd, packet.bytes.data(), packet.bytes.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (length < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ? Received::Nothing
                                                                         : Received::Ended;
    }
    // An empty packet and the end of the connection look alike; either ends it.
    if (length == 0) {
        return Received::Ended;
    }
    if (static_cast<std::size_t>(length) > packet.bytes.size()) {
        return Received::Oversized;
    }
    packet.size = static_cast<std::size_t>(length);
    return Received::Packet;
}

bool sendPacket(int fd, const Packet& packet) {
    ssize_t sent = ::send(fd, packet.bytes.data(), packet.size, MSG_DONTWAIT | MSG_NOSIGNAL);
    return sent == static_cast<ssize_t>(packet.size);
}

std::optional<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        errno = ENAMETOOLONG;
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

std::optional<PeerCredentials> peerCredentials(int fd) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials) {
        return std::nullopt;
    }
    return PeerCredentials{credentials.pid, credentials.uid, credentials.gid};
}

} // namespace varnu::linux_backend::devices
