#include "platform/linux/files/PrintableText.h"

#include <cstddef>

namespace varnu::linux_backend {

namespace {

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr unsigned char kContinuationLow = 0x80;
constexpr unsigned char kContinuationHigh = 0xBF;
// The lead byte of the two-byte forms of U+0080..U+009F, the C1 controls.
constexpr unsigned char kC1Lead = 0xC2;
constexpr unsigned char kLastC1Continuation = 0x9F;

// RFC 3629's well-formed sequences beyond ASCII: for each range of lead bytes, the length and
// the range the second byte must lie in, which rules out overlong forms, surrogates and code
// points beyond U+10FFFF. Every later byte is a continuation byte.
struct WellFormed {
    unsigned char firstLead;
    unsigned char lastLead;
    std::size_t length;
    unsigned char secondLow;
    unsigned char secondHigh;
};
constexpr WellFormed kWellFormed[] = {
    {0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF}, {0xE1, 0xEC, 3, 0x80, 0xBF},
    {0xED, 0xED, 3, 0x80, 0x9F}, {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F},
};

// The length of the valid UTF-8 sequence at the start of text, or 0.
std::size_t sequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t index) { return static_cast<unsigned char>(text[index]); };
    if (byte(0) < kContinuationLow) {
        return 1;
    }
    for (const auto& form : kWellFormed) {
        if (byte(0) < form.firstLead || byte(0) > form.lastLead) {
            continue;
        }
        if (text.size() < form.length || byte(1) < form.secondLow || byte(1) > form.secondHigh) {
            return 0;
        }
        for (std::size_t index = 2; index < form.length; ++index) {
            if (byte(index) < kContinuationLow || byte(index) > kContinuationHigh) {
                return 0;
            }
        }
        return form.length;
    }
    return 0;
}

bool isControl(std::string_view sequence) {
    const auto lead = static_cast<unsigned char>(sequence[0]);
    if (sequence.size() == 1) {
        return lead < kFirstPrintable || lead == kDelete;
    }
    return sequence.size() == 2 && lead == kC1Lead &&
           static_cast<unsigned char>(sequence[1]) <= kLastC1Continuation;
}

void appendEscaped(std::string& out, unsigned char byte) {
    constexpr std::string_view kHexDigits = "0123456789ABCDEF";
    out += "\\x";
    out += kHexDigits[byte >> 4];
    out += kHexDigits[byte & 0x0F];
}

} // namespace

std::string printableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        const auto length = sequenceLength(text);
        const auto sequence = text.substr(0, length == 0 ? 1 : length);
        if (length == 0 || isControl(sequence)) {
            for (const char c : sequence) {
                appendEscaped(out, static_cast<unsigned char>(c));
            }
        } else {
            out += sequence;
        }
        text.remove_prefix(sequence.size());
    }
    return out;
}

} // namespace varnu::linux_backend
