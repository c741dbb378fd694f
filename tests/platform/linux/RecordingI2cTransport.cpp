#include "RecordingI2cTransport.h"

#include <algorithm>
#include <cstdio>

namespace varnu::linux_backend::testing {

std::string hexBytes(std::span<const std::uint8_t> bytes) {
    std::string text;
    for (auto byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += (text.empty() ? "" : " ") + std::string(digits);
    }
    return text;
}

int RecordingI2cTransport::failure(const std::string& verb, int fd) {
    auto found = failures.find(verb + " " + paths_[fd]);
    if (found == failures.end() || found->second.empty()) {
        return 0;
    }
    int error = found->second.front();
    found->second.pop_front();
    return error;
}

int RecordingI2cTransport::open(const std::string& path) {
    calls.push_back("open " + path);
    if (auto found = failures.find("open " + path);
        found != failures.end() && !found->second.empty()) {
        int error = found->second.front();
        found->second.pop_front();
        return error;
    }
    paths_[nextFd_] = path;
    return nextFd_++;
}

int RecordingI2cTransport::setSlaveAddress(int fd, std::uint8_t address) {
    calls.push_back("slave " + std::to_string(fd) + ": " + hexBytes(std::span(&address, 1)));
    return failure("slave", fd);
}

int RecordingI2cTransport::lock(int fd) {
    calls.push_back("lock " + std::to_string(fd));
    return failure("lock", fd);
}

int RecordingI2cTransport::unlock(int fd) {
    calls.push_back("unlock " + std::to_string(fd));
    return failure("unlock", fd);
}

int RecordingI2cTransport::write(int fd, std::span<const std::uint8_t> bytes) {
    calls.push_back("write " + std::to_string(fd) + ": " + hexBytes(bytes));
    if (int error = failure("write", fd)) {
        return error;
    }
    if (!writeCounts.empty()) {
        int count = writeCounts.front();
        writeCounts.pop_front();
        return count;
    }
    return static_cast<int>(bytes.size());
}

int RecordingI2cTransport::read(int fd, std::span<std::uint8_t> buffer) {
    calls.push_back("read " + std::to_string(fd) + ": " + std::to_string(buffer.size()));
    if (int error = failure("read", fd)) {
        return error;
    }
    if (replies.empty()) {
        return 0;
    }
    auto reply = replies.front();
    replies.pop_front();
    auto count = std::min(reply.size(), buffer.size());
    std::copy_n(reply.begin(), count, buffer.begin());
    return static_cast<int>(count);
}

void RecordingI2cTransport::close(int fd) {
    calls.push_back("close " + std::to_string(fd));
}

} // namespace varnu::linux_backend::testing
