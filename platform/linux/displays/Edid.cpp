#include "platform/linux/displays/Edid.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <string_view>

namespace varnu::linux_backend {
namespace {

constexpr std::array<std::uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::size_t kFirstDescriptor = 54;
constexpr std::size_t kDescriptorSize = 18;
constexpr std::size_t kDescriptorCount = 4;
constexpr std::size_t kDescriptorTagOffset = 3;
// A CTA-861 extension block: its tag, and the byte that says where its detailed descriptors
// start (the offsets before it hold data blocks).
constexpr std::uint8_t kCtaExtensionTag = 0x02;
constexpr std::size_t kCtaDescriptorsOffset = 2;
constexpr std::size_t kCtaFirstPossibleDescriptor = 4;
constexpr std::size_t kBlockChecksumOffset = 127;
constexpr std::size_t kDescriptorTextOffset = 5;
constexpr std::size_t kDescriptorTextSize = 13;
constexpr std::uint8_t kMonitorNameTag = 0xFC;
constexpr std::uint8_t kTextEnd = 0x0A;
// Some displays pad with NUL instead of ending the text with a line feed.
constexpr std::uint8_t kTextPadding = 0x00;
constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

bool isMonitorName(std::span<const std::uint8_t> descriptor) {
    // A detailed timing descriptor starts with a non-zero pixel clock instead.
    return descriptor[0] == 0 && descriptor[1] == 0 && descriptor[2] == 0 &&
           descriptor[kDescriptorTagOffset] == kMonitorNameTag;
}

// Where the descriptors of a block are: four in the base block, and in a CTA-861 extension as
// many as fit between its data blocks and its checksum.
std::span<const std::uint8_t> descriptorArea(std::span<const std::uint8_t> block, bool base) {
    if (base) {
        return block.subspan(kFirstDescriptor, kDescriptorCount * kDescriptorSize);
    }
    const std::size_t start = block[kCtaDescriptorsOffset];
    if (block[0] != kCtaExtensionTag || start < kCtaFirstPossibleDescriptor ||
        start >= kBlockChecksumOffset) {
        return {};
    }
    const std::size_t count = (kBlockChecksumOffset - start) / kDescriptorSize;
    return block.subspan(start, count * kDescriptorSize);
}

std::string descriptorText(std::span<const std::uint8_t> text) {
    std::string result;
    for (std::uint8_t byte : text) {
        if (byte == kTextEnd || byte == kTextPadding) {
            break;
        }
        // The text is meant to be printable ASCII; anything else must not leak out as invalid
        // UTF-8.
        if (byte < 0x20 || byte > 0x7E) {
            result += kReplacementCharacter;
        } else {
            result += static_cast<char>(byte);
        }
    }
    result.erase(result.find_last_not_of(' ') + 1);
    return result;
}

} // namespace

std::optional<Edid> Edid::parse(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < kBlockSize) {
        return std::nullopt;
    }
    auto block = bytes.first(kBlockSize);
    if (!std::equal(kHeader.begin(), kHeader.end(), block.begin())) {
        return std::nullopt;
    }
    auto sum = std::accumulate(block.begin(), block.end(), 0u);
    if (sum % 256 != 0) {
        return std::nullopt;
    }
    // The kernel takes the last name it meets, so a maker's name followed by the model gives
    // the model.
    std::span<const std::uint8_t> lastName;
    const std::size_t blocks =
        std::min<std::size_t>(1 + block[Edid::kExtensionCountOffset], bytes.size() / kBlockSize);
    for (std::size_t index = 0; index < blocks; ++index) {
        auto area = descriptorArea(bytes.subspan(index * kBlockSize, kBlockSize), index == 0);
        for (; area.size() >= kDescriptorSize; area = area.subspan(kDescriptorSize)) {
            if (isMonitorName(area.first(kDescriptorSize))) {
                lastName = area.subspan(kDescriptorTextOffset, kDescriptorTextSize);
            }
        }
    }
    Edid edid;
    edid.monitorName_ = descriptorText(lastName);
    return edid;
}

} // namespace varnu::linux_backend
