#pragma once

// One display's DDC/CI channel over the kernel's i2c-dev interface (/dev/i2c-N).
// Implements: the AVService writes and reads to one chip address, each transaction on a
// descriptor of its own (open, address, flock(LOCK_EX), transfer, close), so that no descriptor
// outlives a transaction and undocking, unplugging a hub or unbinding a driver never waits on
// Varnu; when a kernel driver has claimed the address (I2C_SLAVE answers EBUSY, as with the
// ddcci driver), each message goes as its own I2C_RDWR transfer instead.
// Does not implement: retries (the callers own the retry policy), SMBus block transfers.
//
// A Get VCP Feature transaction is a write, a pause and a read. A write that asks the display
// for a reply therefore keeps its descriptor, and the lock, until the next read has ended; every
// other write closes it when it returns. A reply that is never read ends its transaction at the
// next write or when the channel goes.
//
// Failures are results: the errno of the failing call (EBUSY when another program held the bus
// past the lock timeout, EIO for a short transfer). Each is reported once per bus and
// cause, as is a display's Null Message, whose bytes are still handed up as read.

#include "platform/AVService.h"
#include "platform/linux/displays/I2cDevReports.h"
#include "platform/linux/displays/I2cTransport.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

namespace varnu::linux_backend {

class I2cDevChannel final : public AVService {
public:
    // Nothing is opened until the first transfer. Null reports keep quiet.
    I2cDevChannel(std::shared_ptr<I2cTransport> transport, std::string path,
                  std::uint8_t chipAddress, std::shared_ptr<I2cDevReports> reports = {});
    ~I2cDevChannel() override;
    I2cDevChannel(const I2cDevChannel&) = delete;
    I2cDevChannel& operator=(const I2cDevChannel&) = delete;

    const std::string& path() const { return path_; }

    // Sends the data-address byte and the bytes in one transfer. 0 or the errno.
    IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                      std::span<const std::uint8_t> bytes) override;
    // Reads exactly the buffer's size in one transfer. 0 or the errno.
    IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                     std::span<std::uint8_t> buffer) override;
    // One transaction of its own without a pause: the bytes as they are, then a read of the
    // buffer's size, as for an EEPROM's offset and contents. Where the adapter allows, both go
    // in one I2C_RDWR transfer, so that another reader (the kernel's own EDID read on a
    // hot-plug) cannot move the EEPROM's pointer in between; else as two transfers. 0 or the
    // errno.
    IOReturn writeThenRead(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> buffer);

private:
    enum class Step { Open, Address, Lock, Write, Read, ShortWrite, ShortRead, Transfer };
    struct Transaction {
        int fd = -1;
        // The address is claimed by a driver: every message goes through I2C_RDWR.
        bool asMessages = false;
    };

    IOReturn begin();
    void end();
    IOReturn send(std::span<const std::uint8_t> bytes);
    IOReturn receive(std::span<std::uint8_t> buffer);
    IOReturn received(std::span<std::uint8_t> buffer, int count);
    // The write and the read as one transfer; EOPNOTSUPP when the adapter cannot.
    IOReturn combined(std::span<const std::uint8_t> bytes, std::span<std::uint8_t> buffer);
    IOReturn failed(Step step, int error);

    std::shared_ptr<I2cTransport> transport_;
    std::string path_;
    std::uint8_t chipAddress_;
    std::shared_ptr<I2cDevReports> reports_;
    std::optional<Transaction> open_;
};

// What an errno from a DDC/CI bus means for the user, e.g. for EACCES how to get the access.
std::string describeBusError(const std::string& path, int error);

} // namespace varnu::linux_backend
