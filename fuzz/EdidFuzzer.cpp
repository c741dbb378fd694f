// EDID blobs as sysfs hands them over: parsing never reads past the bytes, and a monitor name
// that comes out is printable, valid UTF-8 that fits its descriptor.

#include "platform/linux/displays/Edid.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

namespace {

// The name is ASCII with U+FFFD for anything else, so only those two shapes may appear.
bool isPrintableAsciiOrReplacement(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte >= 0x20 && byte <= 0x7E) {
            ++i;
        } else if (text.compare(i, 3, "\xEF\xBF\xBD") == 0) {
            i += 3;
        } else {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto edid = varnu::linux_backend::Edid::parse(std::span(data, size));
    if (!edid) {
        return 0;
    }
    constexpr std::size_t kLongestName = 13 * 3;
    const auto& name = edid->monitorName();
    if (size < varnu::linux_backend::Edid::kBlockSize || name.size() > kLongestName ||
        !isPrintableAsciiOrReplacement(name) || (!name.empty() && name.back() == ' ')) {
        std::abort();
    }
    return 0;
}
