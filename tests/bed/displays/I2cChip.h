#pragma once

// What answers at one address of an emulated I2C bus: the EEPROM that holds a display's EDID
// (0x50) and a display's DDC/CI side (0x37) played by the simulated monitor.

#include "platform/sim/SimMonitor.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

namespace varnu::bed {

// Each call answers the count of bytes moved or a negative errno, as a kernel adapter does.
class I2cChip {
public:
    virtual ~I2cChip() = default;
    virtual int write(std::span<const std::uint8_t> bytes) = 0;
    virtual int read(std::span<std::uint8_t> buffer) = 0;
};

// An EDID EEPROM: a write sets the offset, a read goes on from there.
class EdidChip final : public I2cChip {
public:
    explicit EdidChip(std::vector<std::uint8_t> contents)
        : contents_(std::move(contents)) {}

    int write(std::span<const std::uint8_t> bytes) override {
        std::lock_guard lock(mutex_);
        if (!bytes.empty()) {
            offset_ = bytes[0];
        }
        return static_cast<int>(bytes.size());
    }
    int read(std::span<std::uint8_t> buffer) override {
        std::lock_guard lock(mutex_);
        for (auto& byte : buffer) {
            byte = offset_ < contents_.size() ? contents_[offset_] : 0xFF;
            ++offset_;
        }
        return static_cast<int>(buffer.size());
    }

private:
    std::mutex mutex_;
    std::vector<std::uint8_t> contents_;
    std::size_t offset_ = 0;
};

// A display's DDC/CI address. The first byte the host writes is the data address (its source
// address 0x51); a read is asked on behalf of that same source. A transfer the monitor refuses
// is a NACK, which i2c-dev answers with ENXIO.
class DdcChip final : public I2cChip {
public:
    explicit DdcChip(std::shared_ptr<sim::SimMonitor> monitor)
        : monitor_(std::move(monitor)) {}

    int write(std::span<const std::uint8_t> bytes) override {
        if (bytes.empty()) {
            return -EINVAL;
        }
        auto status = monitor_->writeI2C(kAddress, bytes[0], bytes.subspan(1));
        return status == kIOReturnSuccess ? static_cast<int>(bytes.size()) : -ENXIO;
    }
    int read(std::span<std::uint8_t> buffer) override {
        auto status = monitor_->readI2C(kAddress, kHostSource, buffer);
        return status == kIOReturnSuccess ? static_cast<int>(buffer.size()) : -ENXIO;
    }

private:
    static constexpr std::uint32_t kAddress = 0x37;
    static constexpr std::uint32_t kHostSource = 0x51;
    std::shared_ptr<sim::SimMonitor> monitor_;
};

} // namespace varnu::bed
