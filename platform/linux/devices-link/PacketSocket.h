#pragma once

// One message at a time over a connected SOCK_SEQPACKET Unix socket, for both ends.
// Implements: a send that never blocks and never raises SIGPIPE, a receive that tells a whole
// packet from an oversized one, an empty socket and an ended connection; the peer's
// credentials (SO_PEERCRED).
// Does not implement: what the bytes mean (DevicesProtocol).

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <optional>
#include <string>
#include <sys/types.h>
#include <sys/un.h>

namespace varnu::linux_backend::devices {

enum class Received {
    Packet,    // one packet of at most kLargestMessage bytes is in the buffer
    Nothing,   // nothing waiting
    Oversized, // a longer packet came, and was dropped
    Ended,     // the peer closed the connection, or it failed
};

Received receivePacket(int fd, Packet& packet);
// False when the packet could not go at once (the peer reads nothing, or is gone).
bool sendPacket(int fd, const Packet& packet);

// The address of the socket at the path; nothing (ENAMETOOLONG in errno) when it cannot be one.
std::optional<sockaddr_un> socketAddress(const std::string& path);

struct PeerCredentials {
    pid_t pid = 0;
    uid_t uid = 0;
    gid_t gid = 0;
};
std::optional<PeerCredentials> peerCredentials(int fd);

} // namespace varnu::linux_backend::devices
