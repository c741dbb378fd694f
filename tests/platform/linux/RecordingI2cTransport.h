#pragma once

// An I2C transport without a bus: records every call and answers what the test set up.

#include "platform/linux/I2cTransport.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace varnu::linux_backend::testing {

class RecordingI2cTransport final : public I2cTransport {
public:
    // Calls as text: "open /dev/i2c-3", "slave 37", "lock 3", "write 3: 51 84 03", "read 3: 11",
    // "unlock 3", "close 3"; the number after the verb is the descriptor.
    std::vector<std::string> calls;

    // Errors (negative errno) keyed by verb and device path ("slave /dev/i2c-3"), each used
    // once, in order.
    std::map<std::string, std::deque<int>> failures;
    // Bytes the next reads deliver; a shorter reply makes a short read.
    std::deque<std::vector<std::uint8_t>> replies;
    // Counts the next writes report instead of the full length.
    std::deque<int> writeCounts;

    int open(const std::string& path) override;
    int setSlaveAddress(int fd, std::uint8_t address) override;
    int lock(int fd) override;
    int unlock(int fd) override;
    int write(int fd, std::span<const std::uint8_t> bytes) override;
    int read(int fd, std::span<std::uint8_t> buffer) override;
    void close(int fd) override;

private:
    int failure(const std::string& verb, int fd);
    int nextFd_ = 3;
    std::map<int, std::string> paths_;
};

std::string hexBytes(std::span<const std::uint8_t> bytes);

} // namespace varnu::linux_backend::testing
