#include "app/NameMatching.h"

#include <algorithm>
#include <vector>

namespace varnu {

namespace {

// Invalid bytes decode to a code point of their own that no valid sequence produces, so that
// they match themselves and nothing else.
constexpr char32_t kInvalidByteBase = 0x110000;

bool inRange(char32_t c, char32_t first, char32_t last) {
    return c >= first && c <= last;
}

// Blocks where an upper-case letter at an even code point is followed by its lower case.
bool evenUpperPairs(char32_t c) {
    return inRange(c, 0x0100, 0x012F) || inRange(c, 0x0132, 0x0137) || inRange(c, 0x014A, 0x0177) ||
           inRange(c, 0x0460, 0x0481) || inRange(c, 0x048A, 0x04BF) || inRange(c, 0x04D0, 0x052F);
}

// Blocks where an upper-case letter at an odd code point is followed by its lower case.
bool oddUpperPairs(char32_t c) {
    return inRange(c, 0x0139, 0x0148) || inRange(c, 0x0179, 0x017E) || inRange(c, 0x04C1, 0x04CE);
}

std::vector<char32_t> decodeFolded(std::string_view text) {
    std::vector<char32_t> codePoints;
    codePoints.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        char32_t value = 0;
        if (lead < 0x80) {
            length = 1;
            value = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            value = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            value = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            value = lead & 0x07;
        }
        bool valid = length > 0 && i + length <= text.size();
        for (std::size_t k = 1; valid && k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                valid = false;
            } else {
                value = (value << 6) | (next & 0x3F);
            }
        }
        // Overlong forms, surrogates and values past the last code point are not valid.
        if (valid && ((length == 3 && value < 0x800) || (length == 4 && value < 0x10000) ||
                      inRange(value, 0xD800, 0xDFFF) || value > 0x10FFFF)) {
            valid = false;
        }
        if (valid) {
            codePoints.push_back(foldCase(value));
            i += length;
        } else {
            codePoints.push_back(kInvalidByteBase + lead);
            i += 1;
        }
    }
    return codePoints;
}

} // namespace

char32_t foldCase(char32_t c) {
    if (inRange(c, U'A', U'Z')) {
        return c + 0x20;
    }
    if (c < 0x80) {
        return c;
    }
    if (c == 0x00B5) { // micro sign
        return 0x03BC;
    }
    if (inRange(c, 0x00C0, 0x00DE) && c != 0x00D7) {
        return c + 0x20;
    }
    if (c == 0x0178) { // Y with diaeresis, whose lower case lives in Latin-1
        return 0x00FF;
    }
    if (c == 0x017F) { // long s
        return U's';
    }
    if (evenUpperPairs(c)) {
        return c | 1;
    }
    if (oddUpperPairs(c)) {
        return (c & 1) ? c + 1 : c;
    }
    // Greek.
    if (c == 0x0386) {
        return 0x03AC;
    }
    if (inRange(c, 0x0388, 0x038A)) {
        return c + 0x25;
    }
    if (c == 0x038C) {
        return 0x03CC;
    }
    if (inRange(c, 0x038E, 0x038F)) {
        return c + 0x3F;
    }
    if (inRange(c, 0x0391, 0x03AB) && c != 0x03A2) {
        return c + 0x20;
    }
    if (c == 0x03C2) { // final sigma
        return 0x03C3;
    }
    // Cyrillic.
    if (inRange(c, 0x0400, 0x040F)) {
        return c + 0x50;
    }
    if (inRange(c, 0x0410, 0x042F)) {
        return c + 0x20;
    }
    if (c == 0x04C0) {
        return 0x04CF;
    }
    if (c == 0x1E9E) { // capital sharp s
        return 0x00DF;
    }
    return c;
}

bool containsIgnoringCase(std::string_view text, std::string_view part) {
    const auto haystack = decodeFolded(text);
    const auto needle = decodeFolded(part);
    // std::search finds an empty needle at the start, which is the end of an empty haystack.
    return needle.empty() || std::search(haystack.begin(), haystack.end(), needle.begin(),
                                         needle.end()) != haystack.end();
}

} // namespace varnu
