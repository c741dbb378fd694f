#include "ddc/RegistryEntryName.h"

#include <cstdint>

namespace varnu {

namespace {

constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";

// How many continuation bytes a lead byte announces, and the range its first one must fall in
// (which rules out overlong forms, surrogates and code points above U+10FFFF).
struct LeadByte {
    std::size_t continuations = 0;
    std::uint8_t firstLow = 0x80;
    std::uint8_t firstHigh = 0xBF;
};

bool classify(std::uint8_t byte, LeadByte& lead) {
    if (byte >= 0xC2 && byte <= 0xDF) {
        lead = {1, 0x80, 0xBF};
    } else if (byte == 0xE0) {
        lead = {2, 0xA0, 0xBF};
    } else if (byte == 0xED) {
        lead = {2, 0x80, 0x9F};
    } else if (byte >= 0xE1 && byte <= 0xEF) {
        lead = {2, 0x80, 0xBF};
    } else if (byte == 0xF0) {
        lead = {3, 0x90, 0xBF};
    } else if (byte >= 0xF1 && byte <= 0xF3) {
        lead = {3, 0x80, 0xBF};
    } else if (byte == 0xF4) {
        lead = {3, 0x80, 0x8F};
    } else {
        return false;
    }
    return true;
}

} // namespace

std::string decodeUTF8Lossy(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size());
    std::size_t at = 0;
    while (at < bytes.size()) {
        const auto byte = static_cast<std::uint8_t>(bytes[at]);
        if (byte < 0x80) {
            text.push_back(bytes[at]);
            ++at;
            continue;
        }
        LeadByte lead;
        if (!classify(byte, lead)) {
            text.append(kReplacementCharacter);
            ++at;
            continue;
        }
        std::size_t next = at + 1;
        bool complete = true;
        for (std::size_t index = 0; index < lead.continuations; ++index, ++next) {
            const std::uint8_t low = index == 0 ? lead.firstLow : 0x80;
            const std::uint8_t high = index == 0 ? lead.firstHigh : 0xBF;
            if (next >= bytes.size() || static_cast<std::uint8_t>(bytes[next]) < low ||
                static_cast<std::uint8_t>(bytes[next]) > high) {
                complete = false;
                break;
            }
        }
        // A broken sequence is replaced up to, not including, the byte that broke it, which
        // then starts afresh.
        text.append(complete ? bytes.substr(at, next - at) : kReplacementCharacter);
        at = next;
    }
    return text;
}

std::string registryEntryName(std::string_view rawName) {
    std::string_view name = rawName.substr(0, kIONameBufferSize - 1);
    name = name.substr(0, name.find('\0'));
    return decodeUTF8Lossy(name);
}

} // namespace varnu
