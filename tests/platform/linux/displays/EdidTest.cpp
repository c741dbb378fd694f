#include "platform/linux/displays/Edid.h"

#include "FakeDrmTree.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using testing::makeEdid;

std::string nameOf(const std::vector<std::uint8_t>& bytes) {
    auto edid = Edid::parse(bytes);
    return edid ? edid->monitorName() : "<invalid>";
}

TEST(Edid, TakesTheNameFromTheMonitorNameDescriptorOnlyAndDecodesItSafely) {
    EXPECT_EQ(nameOf(makeEdid({.name = "DELL U2723QE"})), "DELL U2723QE");
    // The padding after the line feed and spaces before it are not part of the name.
    EXPECT_EQ(nameOf(makeEdid({.name = "LG HDR  "})), "LG HDR");
    // Thirteen characters fill the descriptor and need no line feed.
    EXPECT_EQ(nameOf(makeEdid({.name = "ABCDEFGHIJKLM", .terminated = false})), "ABCDEFGHIJKLM");
    // Without the descriptor the name is empty, not the serial number's text.
    EXPECT_EQ(nameOf(makeEdid({.name = std::nullopt})), "");
    // NUL padding ends the text like a line feed.
    EXPECT_EQ(nameOf(makeEdid({.name = std::string("BenQ\0", 5), .terminated = false})), "BenQ");
    // A byte outside printable ASCII must not make the name invalid UTF-8.
    EXPECT_EQ(nameOf(makeEdid({.name = "Mon\xE9tor"})), "Mon\xEF\xBF\xBDtor");
}

TEST(Edid, RejectsBlocksThatAreNotEdidButIgnoresExtensionBlocks) {
    auto good = makeEdid({.name = "Studio"});
    EXPECT_FALSE(Edid::parse(makeEdid({.name = "Studio", .validChecksum = false})));
    auto badHeader = good;
    badHeader[1] = 0x00;
    badHeader[127] = static_cast<std::uint8_t>(badHeader[127] + 0xFF); // checksum still right
    EXPECT_FALSE(Edid::parse(badHeader));
    EXPECT_FALSE(Edid::parse(std::span(good).first(127)));
    EXPECT_FALSE(Edid::parse({}));
    good.resize(256, 0x55);
    EXPECT_EQ(nameOf(good), "Studio");
}

} // namespace
} // namespace varnu::linux_backend
