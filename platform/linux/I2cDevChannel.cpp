#include "platform/linux/I2cDevChannel.h"

#include "ddc/VCP.h"

#include <array>
#include <cerrno>
#include <vector>

namespace varnu::linux_backend {
namespace {

constexpr std::uint32_t kLargestDataAddress = 0xFF;
constexpr std::size_t kOpcodeOffset = 1;
// DDC/CI requests the display answers with a reply the host reads next.
constexpr std::uint8_t kCapabilitiesRequest = 0xF3;
constexpr std::uint8_t kTimingRequest = 0x07;
constexpr std::uint8_t kTableReadRequest = 0xE2;
constexpr std::array<std::uint8_t, 4> kRequestsWithReply{kGetVCPFeature, kCapabilitiesRequest,
                                                         kTimingRequest, kTableReadRequest};

bool expectsReply(std::span<const std::uint8_t> request) {
    if (request.size() <= kOpcodeOffset) {
        return false;
    }
    auto opcode = request[kOpcodeOffset];
    for (auto candidate : kRequestsWithReply) {
        if (opcode == candidate) {
            return true;
        }
    }
    return false;
}

} // namespace

I2cDevChannel::Opened I2cDevChannel::open(std::shared_ptr<I2cTransport> transport,
                                          const std::string& path, std::uint8_t chipAddress) {
    int fd = transport->open(path);
    if (fd < 0) {
        return {nullptr, -fd};
    }
    int bound = transport->setSlaveAddress(fd, chipAddress);
    if (bound < 0) {
        transport->close(fd);
        return {nullptr, -bound};
    }
    return {std::unique_ptr<I2cDevChannel>(
                new I2cDevChannel(std::move(transport), path, fd, chipAddress)),
            0};
}

I2cDevChannel::I2cDevChannel(std::shared_ptr<I2cTransport> transport, std::string path, int fd,
                             std::uint8_t chipAddress)
    : transport_(std::move(transport))
    , path_(std::move(path))
    , fd_(fd)
    , chipAddress_(chipAddress) {}

I2cDevChannel::~I2cDevChannel() {
    releaseLock();
    transport_->close(fd_);
}

IOReturn I2cDevChannel::acquireLock() {
    if (locked_) {
        return kIOReturnSuccess;
    }
    int result = transport_->lock(fd_);
    if (result < 0) {
        return -result;
    }
    locked_ = true;
    return kIOReturnSuccess;
}

void I2cDevChannel::releaseLock() {
    if (locked_) {
        transport_->unlock(fd_);
        locked_ = false;
    }
}

IOReturn I2cDevChannel::writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                                 std::span<const std::uint8_t> bytes) {
    if (chipAddress != chipAddress_ || dataAddress > kLargestDataAddress) {
        return EINVAL;
    }
    if (auto locked = acquireLock(); locked != kIOReturnSuccess) {
        return locked;
    }
    std::vector<std::uint8_t> transfer;
    transfer.reserve(bytes.size() + 1);
    transfer.push_back(static_cast<std::uint8_t>(dataAddress));
    transfer.insert(transfer.end(), bytes.begin(), bytes.end());
    int written = transport_->write(fd_, transfer);
    IOReturn status = kIOReturnSuccess;
    if (written < 0) {
        status = -written;
    } else if (static_cast<std::size_t>(written) != transfer.size()) {
        status = EIO;
    }
    if (status != kIOReturnSuccess || !expectsReply(bytes)) {
        releaseLock();
    }
    return status;
}

IOReturn I2cDevChannel::readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                                std::span<std::uint8_t> buffer) {
    if (chipAddress != chipAddress_ || dataAddress > kLargestDataAddress) {
        return EINVAL;
    }
    if (auto locked = acquireLock(); locked != kIOReturnSuccess) {
        return locked;
    }
    int received = transport_->read(fd_, buffer);
    releaseLock();
    if (received < 0) {
        return -received;
    }
    return static_cast<std::size_t>(received) == buffer.size() ? kIOReturnSuccess : EIO;
}

} // namespace varnu::linux_backend
