#pragma once

// The file calls beneath an I2C channel, so that the channel's framing, locking and status
// mapping can be checked without a bus.
// Implements: SystemI2cTransport over /dev/i2c-N (open, I2C_SLAVE, flock, read, write, one
// message per I2C_RDWR, a write and a read as one I2C_RDWR, I2C_FUNCS, close).
// Does not implement: SMBus calls, ten-bit addresses.

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <span>
#include <string>

namespace varnu::linux_backend {

// Every call answers a non-negative result on success and a negative errno on failure.
class I2cTransport {
public:
    virtual ~I2cTransport() = default;
    // A descriptor opened read-write and close-on-exec.
    virtual int open(const std::string& path) = 0;
    virtual int setSlaveAddress(int fd, std::uint8_t address) = 0;
    // An exclusive advisory lock on the device, shared with other DDC/CI programs; closing the
    // descriptor releases it.
    virtual int lock(int fd) = 0;
    // One bus transfer each to the address bound with setSlaveAddress; the count of bytes moved.
    virtual int write(int fd, std::span<const std::uint8_t> bytes) = 0;
    virtual int read(int fd, std::span<std::uint8_t> buffer) = 0;
    // One bus transfer each as a single I2C_RDWR message, which needs no bound address and so
    // also reaches an address a kernel driver has claimed; the count of bytes moved.
    virtual int writeMessage(int fd, std::uint8_t address, std::span<const std::uint8_t> bytes) = 0;
    virtual int readMessage(int fd, std::uint8_t address, std::span<std::uint8_t> buffer) = 0;
    // Whether the adapter carries plain I2C messages (I2C_FUNC_I2C), as I2C_RDWR needs: 1 or 0.
    // A transport without combined transfers answers 0.
    virtual int carriesMessages(int /*fd*/) { return 0; }
    // A write and then a read to one address as one I2C_RDWR transfer, with a repeated start
    // between them, so that no other transfer on the bus comes between; the count of bytes
    // read. EOPNOTSUPP where the adapter cannot combine them.
    virtual int writeThenReadMessages(int /*fd*/, std::uint8_t /*address*/,
                                      std::span<const std::uint8_t> /*bytes*/,
                                      std::span<std::uint8_t> /*buffer*/) {
        return -EOPNOTSUPP;
    }
    virtual void close(int fd) = 0;
};

class SystemI2cTransport final : public I2cTransport {
public:
    // A program that keeps the lock longer than this makes the transaction fail instead of
    // stalling every later one.
    static constexpr std::chrono::milliseconds kLockTimeout{1000};

    int open(const std::string& path) override;
    int setSlaveAddress(int fd, std::uint8_t address) override;
    int lock(int fd) override;
    int write(int fd, std::span<const std::uint8_t> bytes) override;
    int read(int fd, std::span<std::uint8_t> buffer) override;
    int writeMessage(int fd, std::uint8_t address, std::span<const std::uint8_t> bytes) override;
    int readMessage(int fd, std::uint8_t address, std::span<std::uint8_t> buffer) override;
    int carriesMessages(int fd) override;
    int writeThenReadMessages(int fd, std::uint8_t address, std::span<const std::uint8_t> bytes,
                              std::span<std::uint8_t> buffer) override;
    void close(int fd) override;
};

} // namespace varnu::linux_backend
