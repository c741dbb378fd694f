#pragma once

// A display's EDID, as the kernel exposes it in sysfs or a display's EEPROM gives it.
// Implements: header and checksum validation of the base block; the display's name the way the
// kernel fills the ELD that the audio server names a display-audio output after: the last
// monitor-name descriptor (tag 0xFC) across the base block and its CTA-861 extension blocks.
// Does not implement: timings, serial numbers, the manufacturer ID, DisplayID and other
// extension blocks.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace varnu::linux_backend {

class Edid {
public:
    static constexpr std::size_t kBlockSize = 128;
    // Where the base block says how many extension blocks follow.
    static constexpr std::size_t kExtensionCountOffset = 126;

    // Nothing when the bytes do not start with a valid base block. Extension blocks are taken
    // from the bytes as far as they go.
    static std::optional<Edid> parse(std::span<const std::uint8_t> bytes);

    // The name descriptor's text, up to its line feed, trailing spaces trimmed; empty when there
    // is none.
    const std::string& monitorName() const { return monitorName_; }

private:
    std::string monitorName_;
};

} // namespace varnu::linux_backend
