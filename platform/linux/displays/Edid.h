#pragma once

// The base block of a display's EDID, as the kernel exposes it in sysfs.
// Implements: header and checksum validation, the monitor-name descriptor (tag 0xFC).
// Does not implement: extension blocks, timings, serial numbers, the manufacturer ID.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnu::linux_backend {

class Edid {
public:
    static constexpr std::size_t kBlockSize = 128;

    // Nothing when the bytes do not start with a valid base block.
    static std::optional<Edid> parse(std::span<const std::uint8_t> bytes);

    // The monitor-name descriptor's text, trailing spaces trimmed; empty when there is none.
    const std::string& monitorName() const { return monitorName_; }

private:
    std::string monitorName_;
};

} // namespace varnu::linux_backend
