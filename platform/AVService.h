#pragma once

// One display's I2C channel, as DDC/CI uses it.

#include <cstdint>
#include <span>

namespace varnu {

using IOReturn = std::int32_t;
constexpr IOReturn kIOReturnSuccess = 0;

class AVService {
public:
    virtual ~AVService() = default;
    // Sends the bytes to the chip, preceded on the bus by the data-address byte.
    // Answers kIOReturnSuccess when they were sent.
    virtual IOReturn writeI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                              std::span<const std::uint8_t> bytes) = 0;
    // Fills the buffer with the chip's reply. Answers kIOReturnSuccess when it was filled.
    virtual IOReturn readI2C(std::uint32_t chipAddress, std::uint32_t dataAddress,
                             std::span<std::uint8_t> buffer) = 0;
};

} // namespace varnu
