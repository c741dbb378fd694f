#include "platform/linux/displays/I2cTransport.h"

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>

namespace varnu::linux_backend {
namespace {

constexpr std::chrono::milliseconds kLockRetryInterval{5};

template <typename Call>
int retryingOnInterrupt(Call call) {
    for (;;) {
        auto result = call();
        if (result >= 0) {
            return static_cast<int>(result);
        }
        if (errno != EINTR) {
            return -errno;
        }
    }
}

} // namespace

int SystemI2cTransport::open(const std::string& path) {
    return retryingOnInterrupt([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); });
}

int SystemI2cTransport::setSlaveAddress(int fd, std::uint8_t address) {
    return retryingOnInterrupt([&] { return ::ioctl(fd, I2C_SLAVE, static_cast<long>(address)); });
}

int SystemI2cTransport::lock(int fd) {
    auto deadline = std::chrono::steady_clock::now() + kLockTimeout;
    for (;;) {
        auto result = retryingOnInterrupt([&] { return ::flock(fd, LOCK_EX | LOCK_NB); });
        if (result != -EWOULDBLOCK || std::chrono::steady_clock::now() >= deadline) {
            return result;
        }
        std::this_thread::sleep_for(kLockRetryInterval);
    }
}

int SystemI2cTransport::write(int fd, std::span<const std::uint8_t> bytes) {
    return retryingOnInterrupt([&] { return ::write(fd, bytes.data(), bytes.size()); });
}

int SystemI2cTransport::read(int fd, std::span<std::uint8_t> buffer) {
    return retryingOnInterrupt([&] { return ::read(fd, buffer.data(), buffer.size()); });
}

namespace {

// I2C_RDWR answers the number of messages carried out, so one message moved all its bytes.
int transferOne(int fd, i2c_msg& message) {
    i2c_rdwr_ioctl_data data{&message, 1};
    int result = retryingOnInterrupt([&] { return ::ioctl(fd, I2C_RDWR, &data); });
    return result < 0 ? result : static_cast<int>(message.len);
}

} // namespace

int SystemI2cTransport::writeMessage(int fd, std::uint8_t address,
                                     std::span<const std::uint8_t> bytes) {
    // The kernel only reads a write message's buffer.
    i2c_msg message{address, 0, static_cast<__u16>(bytes.size()), const_cast<__u8*>(bytes.data())};
    return transferOne(fd, message);
}

int SystemI2cTransport::readMessage(int fd, std::uint8_t address, std::span<std::uint8_t> buffer) {
    i2c_msg message{address, I2C_M_RD, static_cast<__u16>(buffer.size()), buffer.data()};
    return transferOne(fd, message);
}

int SystemI2cTransport::carriesMessages(int fd) {
    unsigned long functions = 0;
    int result = retryingOnInterrupt([&] { return ::ioctl(fd, I2C_FUNCS, &functions); });
    return result < 0 ? result : (functions & I2C_FUNC_I2C) != 0 ? 1 : 0;
}

int SystemI2cTransport::writeThenReadMessages(int fd, std::uint8_t address,
                                              std::span<const std::uint8_t> bytes,
                                              std::span<std::uint8_t> buffer) {
    std::array<i2c_msg, 2> messages{
        i2c_msg{address, 0, static_cast<__u16>(bytes.size()), const_cast<__u8*>(bytes.data())},
        i2c_msg{address, I2C_M_RD, static_cast<__u16>(buffer.size()), buffer.data()}};
    i2c_rdwr_ioctl_data data{messages.data(), static_cast<__u32>(messages.size())};
    int result = retryingOnInterrupt([&] { return ::ioctl(fd, I2C_RDWR, &data); });
    return result < 0 ? result : static_cast<int>(messages[1].len);
}

void SystemI2cTransport::close(int fd) {
    // Linux releases the descriptor even when close reports EINTR, so it is never retried.
    ::close(fd);
}

} // namespace varnu::linux_backend
