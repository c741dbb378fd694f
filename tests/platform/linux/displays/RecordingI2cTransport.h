#pragma once

// An I2C transport without a bus: records every call and answers what the test set up.

#include "platform/linux/displays/I2cTransport.h"

#include <algorithm>
#include <cstdio>
#include <deque>
#include <map>
#include <optional>
#include <vector>

namespace varnu::linux_backend::testing {

class RecordingI2cTransport final : public I2cTransport {
public:
    // Calls as text: "open /dev/i2c-3", "slave 3: 37", "lock 3", "write 3: 51 84 03",
    // "read 3: 11" (the buffer's size), "message 37 3: 51 84 03", "message 37 read 3: 11",
    // "functions 3", "message 50 3: 00, read 128" (one transfer), "close 3"; the number after
    // the verb is the descriptor.
    std::vector<std::string> calls;
    // Errors (negative errno) keyed by verb and device path ("slave /dev/i2c-3"), each used once.
    std::map<std::string, std::deque<int>> failures;
    // Bytes the next reads deliver; a shorter reply makes a short read.
    std::deque<std::vector<std::uint8_t>> replies;
    // Counts the next writes report instead of the full length.
    std::deque<int> writeCounts;
    // Whether the adapter reports I2C_FUNC_I2C.
    bool plainI2C = true;

    int open(const std::string& path) override {
        if (int error = record("open " + path, "open " + path)) {
            return error;
        }
        paths_[nextFd_] = path;
        return nextFd_++;
    }
    int setSlaveAddress(int fd, std::uint8_t address) override {
        return record(fd, "slave", std::span(&address, 1));
    }
    int lock(int fd) override { return record(fd, "lock"); }
    int write(int fd, std::span<const std::uint8_t> bytes) override {
        if (int error = record(fd, "write", bytes)) {
            return error;
        }
        return take(writeCounts).value_or(static_cast<int>(bytes.size()));
    }
    int read(int fd, std::span<std::uint8_t> buffer) override {
        return deliver(fd, "read", buffer);
    }
    int writeMessage(int fd, std::uint8_t address, std::span<const std::uint8_t> bytes) override {
        if (int error = record(fd, "message " + hexByte(address), bytes)) {
            return error;
        }
        return take(writeCounts).value_or(static_cast<int>(bytes.size()));
    }
    int readMessage(int fd, std::uint8_t address, std::span<std::uint8_t> buffer) override {
        return deliver(fd, "message " + hexByte(address) + " read", buffer);
    }
    int carriesMessages(int fd) override {
        const int error = record(fd, "functions");
        return error != 0 ? error : plainI2C ? 1 : 0;
    }
    int writeThenReadMessages(int fd, std::uint8_t address, std::span<const std::uint8_t> bytes,
                              std::span<std::uint8_t> buffer) override {
        const int error = record(fd, "message " + hexByte(address), bytes);
        calls.back() += ", read " + std::to_string(buffer.size());
        return error != 0 ? error : deliver(buffer);
    }
    void close(int fd) override { calls.push_back("close " + std::to_string(fd)); }

private:
    static std::string hexByte(std::uint8_t byte) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        return digits;
    }
    int deliver(int fd, const std::string& verb, std::span<std::uint8_t> buffer) {
        if (int error =
                record(verb + " " + std::to_string(fd) + ": " + std::to_string(buffer.size()),
                       verb + " " + paths_[fd])) {
            return error;
        }
        return deliver(buffer);
    }
    int deliver(std::span<std::uint8_t> buffer) {
        const auto reply = take(replies).value_or(std::vector<std::uint8_t>{});
        const auto count = std::min(reply.size(), buffer.size());
        std::copy_n(reply.begin(), count, buffer.begin());
        return static_cast<int>(count);
    }
    template <typename T>
    static std::optional<T> take(std::deque<T>& queue) {
        if (queue.empty()) {
            return std::nullopt;
        }
        T front = std::move(queue.front());
        queue.pop_front();
        return front;
    }
    // Logs the call; answers the failure set up for it, else 0.
    int record(const std::string& call, const std::string& failureKey) {
        calls.push_back(call);
        return take(failures[failureKey]).value_or(0);
    }
    int record(int fd, const std::string& verb, std::span<const std::uint8_t> bytes = {}) {
        std::string call = verb + " " + std::to_string(fd);
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            call += (i == 0 ? ": " : " ") + hexByte(bytes[i]);
        }
        return record(call, verb + " " + paths_[fd]);
    }

    int nextFd_ = 3;
    std::map<int, std::string> paths_;
};

} // namespace varnu::linux_backend::testing
