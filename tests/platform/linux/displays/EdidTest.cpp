#include "platform/linux/displays/Edid.h"

#include "FakeDrmTree.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using testing::EdidContent;
using testing::makeEdid;

std::string nameOf(const std::vector<std::uint8_t>& bytes) {
    auto edid = Edid::parse(bytes);
    return edid ? edid->monitorName() : "<invalid>";
}

TEST(Edid, NamesTheDisplayAsTheKernelFillsTheEld) {
    const std::pair<EdidContent, std::string> cases[] = {
        {{.name = "DELL U2723QE"}, "DELL U2723QE"},
        // The padding after the line feed and spaces before it are not part of the name.
        {{.name = "LG HDR  "}, "LG HDR"},
        {{.name = "   "}, ""},
        // Thirteen characters fill the descriptor and need no line feed.
        {{.name = "ABCDEFGHIJKLM", .terminated = false}, "ABCDEFGHIJKLM"},
        // Without the descriptor the name is empty, not the serial number's text.
        {{.name = std::nullopt}, ""},
        // NUL padding ends the text like a line feed.
        {{.name = std::string("BenQ\0", 5), .terminated = false}, "BenQ"},
        // A byte outside printable ASCII must not make the name invalid UTF-8.
        {{.name = "Mon\xE9tor"}, "Mon\xEF\xBF\xBDtor"},
        // The last name descriptor counts, in the base block or in a CTA-861 extension; one
        // without a name does not take the name away.
        {{.name = "DELL", .secondName = "U2414H"}, "U2414H"},
        {{.name = "DELL", .extensionNames = {"U2414H"}}, "U2414H"},
        {{.name = std::nullopt, .extensionNames = {"LG TV", std::nullopt}}, "LG TV"},
    };
    for (const auto& [content, expected] : cases) {
        EXPECT_EQ(nameOf(makeEdid(content)), expected) << expected;
    }
    // An extension the bytes do not hold, or one that is not CTA-861, names nothing.
    auto cut = makeEdid({.name = "Base", .extensionNames = {"Extension"}});
    auto displayId = cut;
    cut.resize(Edid::kBlockSize);
    EXPECT_EQ(nameOf(cut), "Base");
    displayId[Edid::kBlockSize] = 0x70;
    EXPECT_EQ(nameOf(displayId), "Base");
}

TEST(Edid, RejectsBlocksThatAreNotEdid) {
    auto good = makeEdid({.name = "Studio"});
    EXPECT_FALSE(Edid::parse(makeEdid({.name = "Studio", .validChecksum = false})));
    auto badHeader = good;
    badHeader[1] = 0x00;
    badHeader[127] = static_cast<std::uint8_t>(badHeader[127] + 0xFF); // checksum still right
    EXPECT_FALSE(Edid::parse(badHeader));
    EXPECT_FALSE(Edid::parse(std::span(good).first(127)));
    EXPECT_FALSE(Edid::parse({}));
}

} // namespace
} // namespace varnu::linux_backend
