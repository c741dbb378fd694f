#pragma once

// One display's DDC/CI channel over the kernel's i2c-dev interface (/dev/i2c-N).
// Implements: the AVService writes and reads to the display's DDC/CI address, each transaction
// under flock(LOCK_EX) so that Varnu and other DDC/CI programs never interleave on one bus.
// Does not implement: other chip addresses than the one bound at open, SMBus block transfers,
// retries (the callers own the retry policy).
//
// Locking: a write and a read are separate calls, and a Get VCP Feature transaction is a write,
// a pause and a read. A write that asks the display for a reply therefore keeps the lock until
// the next read has ended; every other write releases it when it returns. A reply that is never
// read releases the lock at the next write or when the channel closes.

#include "platform/AVService.h"
#include "platform/linux/I2cTransport.h"

#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace varnu::linux_backend {

class I2cDevChannel final : public AVService {
public:
    struct Opened {
        std::unique_ptr<I2cDevChannel> channel;
        // The errno that stopped the open; EBUSY means a kernel driver owns the address.
        int error = 0;
    };

    // Opens the device and binds it to the chip address.
    static Opened open(std::shared_ptr<I2cTransport> transport, const std::string& path,
                       std::uint8_t chipAddress);

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

private:
    I2cDevChannel(std::shared_ptr<I2cTransport> transport, std::string path, int fd,
                  std::uint8_t chipAddress);

    IOReturn acquireLock();
    void releaseLock();

    std::shared_ptr<I2cTransport> transport_;
    std::string path_;
    int fd_;
    std::uint8_t chipAddress_;
    bool locked_ = false;
};

} // namespace varnu::linux_backend
