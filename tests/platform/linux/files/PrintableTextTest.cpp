#include "platform/linux/files/PrintableText.h"

#include <utility>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

TEST(PrintableText, EscapesControlsAndBrokenUtf8AndKeepsTheRest) {
    using namespace std::string_literals;
    const std::pair<std::string, std::string> cases[] = {
        {"Dell U2720Q", "Dell U2720Q"},
        // Names in any script, and the last code point there is.
        {"Bildschirm für Müller €", "Bildschirm für Müller €"},
        {"\xF0\x9F\x8E\xA7 \xF4\x8F\xBF\xBF", "\xF0\x9F\x8E\xA7 \xF4\x8F\xBF\xBF"},
        // C0 with a terminal's own sequences, NUL, DEL, and C1 (CSI, NEL).
        {"JBL\x1B]0;owned\x07\x1B[2J\r\n\t", R"(JBL\x1B]0;owned\x07\x1B[2J\x0D\x0A\x09)"},
        {"a\0b\x7F"s, R"(a\x00b\x7F)"},
        {"\xC2\x9B"
         "31m\xC2\x85",
         R"(\xC2\x9B31m\xC2\x85)"},
        {"\xC2\xA0", "\xC2\xA0"},
        // A stray continuation, an overlong '/', a surrogate, beyond U+10FFFF, cut short.
        {"\x80x", R"(\x80x)"},
        {"\xC0\xAF", R"(\xC0\xAF)"},
        {"\xED\xA0\x80", R"(\xED\xA0\x80)"},
        {"\xF4\x90\x80\x80", R"(\xF4\x90\x80\x80)"},
        {"\xE2\x82", R"(\xE2\x82)"},
        {"\xE2\x82x", R"(\xE2\x82x)"},
    };
    for (const auto& [raw, printed] : cases) {
        EXPECT_EQ(printableText(raw), printed) << printed;
    }
}

} // namespace
} // namespace varnu::linux_backend
