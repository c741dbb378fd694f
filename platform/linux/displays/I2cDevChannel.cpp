#include "platform/linux/displays/I2cDevChannel.h"

#include "ddc/VCP.h"
#include "platform/linux/files/PermissionsHelp.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <system_error>
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
// What a display that has nothing to say sends: its address, an empty length and the checksum
// from the virtual host address 0x50.
constexpr std::array<std::uint8_t, 3> kNullMessage{kDDCDisplayWriteAddress, kDDCLengthFlag, 0xBE};

bool expectsReply(std::span<const std::uint8_t> request) {
    if (request.size() <= kOpcodeOffset) {
        return false;
    }
    return std::find(kRequestsWithReply.begin(), kRequestsWithReply.end(),
                     request[kOpcodeOffset]) != kRequestsWithReply.end();
}

bool isNullMessage(std::span<const std::uint8_t> reply) {
    return reply.size() >= kNullMessage.size() &&
           std::equal(kNullMessage.begin(), kNullMessage.end(), reply.begin());
}

} // namespace

I2cDevChannel::I2cDevChannel(std::shared_ptr<I2cTransport> transport, std::string path,
                             std::uint8_t chipAddress, std::shared_ptr<I2cDevReports> reports)
    : transport_(std::move(transport))
    , path_(std::move(path))
    , chipAddress_(chipAddress)
    , reports_(std::move(reports)) {}

I2cDevChannel::~I2cDevChannel() {
    end();
}

IOReturn I2cDevChannel::begin() {
    if (open_) {
        return kIOReturnSuccess;
    }
    int fd = transport_->open(path_);
    if (fd < 0) {
        return failed(Step::Open, -fd);
    }
    Transaction transaction{fd, false};
    if (int bound = transport_->setSlaveAddress(fd, chipAddress_); bound == -EBUSY) {
        transaction.asMessages = true;
    } else if (bound < 0) {
        transport_->close(fd);
        return failed(Step::Address, -bound);
    }
    if (int locked = transport_->lock(fd); locked < 0) {
        transport_->close(fd);
        // Told apart from EAGAIN, which a transfer answers when it lost the bus's arbitration.
        return failed(Step::Lock, locked == -EWOULDBLOCK ? EBUSY : -locked);
    }
    open_ = transaction;
    return kIOReturnSuccess;
}

void I2cDevChannel::end() {
    if (open_) {
        // Closing the descriptor drops the lock with it.
        transport_->close(open_->fd);
        open_.reset();
    }
}

IOReturn I2cDevChannel::send(std::span<const std::uint8_t> bytes) {
    int written = open_->asMessages ? transport_->writeMessage(open_->fd, chipAddress_, bytes)
                                    : transport_->write(open_->fd, bytes);
    if (written < 0) {
        return failed(Step::Write, -written);
    }
    return static_cast<std::size_t>(written) == bytes.size() ? kIOReturnSuccess
                                                             : failed(Step::ShortWrite, EIO);
}

IOReturn I2cDevChannel::receive(std::span<std::uint8_t> buffer) {
    return received(buffer, open_->asMessages
                                ? transport_->readMessage(open_->fd, chipAddress_, buffer)
                                : transport_->read(open_->fd, buffer));
}

IOReturn I2cDevChannel::combined(std::span<const std::uint8_t> bytes,
                                 std::span<std::uint8_t> buffer) {
    if (transport_->carriesMessages(open_->fd) != 1) {
        return EOPNOTSUPP;
    }
    const int count = transport_->writeThenReadMessages(open_->fd, chipAddress_, bytes, buffer);
    if (count == -EOPNOTSUPP) {
        return EOPNOTSUPP;
    }
    return count < 0 ? failed(Step::Transfer, -count) : received(buffer, count);
}

IOReturn I2cDevChannel::received(std::span<std::uint8_t> buffer, int count) {
    if (count < 0) {
        return failed(Step::Read, -count);
    }
    if (static_cast<std::size_t>(count) != buffer.size()) {
        return failed(Step::ShortRead, EIO);
    }
    if (chipAddress_ == kDDCChipAddress && isNullMessage(buffer) && reports_) {
        reports_->report(path_, "null message",
                         "the display sent the DDC/CI Null Message (nothing to report)");
    }
    return kIOReturnSuccess;
}

IOReturn I2cDevChannel::failed(Step step, int error) {
    if (reports_) {
        static constexpr std::array<const char*, 8> kSteps{
            "open", "address", "lock", "write", "read", "short write", "short read", "transfer"};
        const std::string name = kSteps[static_cast<std::size_t>(step)];
        std::string text;
        switch (step) {
        case Step::Write:
        case Step::Read:
        case Step::Transfer:
            text = name + " failed: " + std::generic_category().message(error);
            break;
        case Step::ShortWrite:
        case Step::ShortRead:
            text = name + ": the transfer ended early";
            break;
        default:
            text = describeBusError(path_, error);
        }
        reports_->report(path_, name + ":" + std::to_string(error), text);
    }
    return error;
}

IOReturn I2cDevChannel::writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                                 std::span<const std::uint8_t> bytes) {
    if (chipAddress != chipAddress_ || dataAddress > kLargestDataAddress) {
        return EINVAL;
    }
    end();
    if (auto begun = begin(); begun != kIOReturnSuccess) {
        return begun;
    }
    std::vector<std::uint8_t> transfer;
    transfer.reserve(bytes.size() + 1);
    transfer.push_back(static_cast<std::uint8_t>(dataAddress));
    transfer.insert(transfer.end(), bytes.begin(), bytes.end());
    IOReturn status = send(transfer);
    if (status != kIOReturnSuccess || !expectsReply(bytes)) {
        end();
    }
    return status;
}

IOReturn I2cDevChannel::readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                                std::span<std::uint8_t> buffer) {
    if (chipAddress != chipAddress_ || dataAddress > kLargestDataAddress) {
        return EINVAL;
    }
    if (auto begun = begin(); begun != kIOReturnSuccess) {
        return begun;
    }
    IOReturn status = receive(buffer);
    end();
    return status;
}

IOReturn I2cDevChannel::writeThenRead(std::span<const std::uint8_t> bytes,
                                      std::span<std::uint8_t> buffer) {
    end();
    if (auto begun = begin(); begun != kIOReturnSuccess) {
        return begun;
    }
    IOReturn status = combined(bytes, buffer);
    if (status == EOPNOTSUPP) {
        status = send(bytes);
        if (status == kIOReturnSuccess) {
            status = receive(buffer);
        }
    }
    end();
    return status;
}

std::string describeBusError(const std::string& path, int error) {
    switch (error) {
    case EBUSY:
        return "the bus is held by another program (" + path + " stayed locked)";
    case EACCES:
    case EPERM:
        return "permission denied on " + path +
               ": install Varnu's udev rules or join the i2c group, then log in again (see " +
               permissionsHelpPage() + ")";
    case ENOENT:
        return path + " does not exist (its display or dock was unplugged, or the i2c-dev module "
                      "is not loaded: sudo modprobe i2c-dev)";
    case ENODEV:
        return path + " is gone (its display or dock was unplugged)";
    case ENOTTY:
        return path + " is not an I2C device";
    case ENXIO:
    case EREMOTEIO:
    case EIO:
        return "nothing answered on " + path;
    default:
        return path + ": " + std::generic_category().message(error);
    }
}

} // namespace varnu::linux_backend
