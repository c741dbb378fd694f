// The simulated display is checked against frames written out by hand, so that it cannot agree
// with the host side on a shared mistake.

#include "platform/sim/SimMonitor.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kNullReply{0x6E, 0x80, 0xBE, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};

IOReturn send(SimMonitor& monitor, const Bytes& bytes, std::uint32_t chip = 0x37,
              std::uint32_t data = 0x51) {
    return monitor.writeI2C(chip, data, bytes);
}

Bytes readBack(SimMonitor& monitor) {
    Bytes buffer(11, 0xEE);
    monitor.readI2C(0x37, 0x51, buffer);
    return buffer;
}

TEST(SimMonitor, CarriesOutSetAndAnswersGetWithAReplyChecksummedFromTheVirtualHostAddress) {
    auto monitor = SimMonitor::create();

    EXPECT_EQ(send(*monitor, {0x84, 0x03, 0x62, 0x00, 0x1E, 0xC4}), kIOReturnSuccess);
    EXPECT_EQ(monitor->control(0x62), (VCPControl{30, 100, kVCPTypeSetParameter}));
    EXPECT_EQ(monitor->appliedSets(), (std::vector<VCPSet>{{0x62, 30}}));

    EXPECT_EQ(send(*monitor, {0x82, 0x01, 0x62, 0xDE}), kIOReturnSuccess);
    EXPECT_EQ(readBack(*monitor),
              (Bytes{0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x1E, 0xAC}));
    // A reply is sent once; asked again, the display has nothing to say.
    EXPECT_EQ(readBack(*monitor), kNullReply);

    // A control whose sets it ignores keeps its value.
    monitor->ignoreSetsOf(0xCA);
    EXPECT_EQ(send(*monitor, {0x84, 0x03, 0xCA, 0x00, 0x01, 0x73}), kIOReturnSuccess);
    send(*monitor, {0x82, 0x01, 0xCA, 0x76});
    EXPECT_EQ(readBack(*monitor),
              (Bytes{0x6E, 0x88, 0x02, 0x00, 0xCA, 0x00, 0x00, 0x02, 0x00, 0x02, 0x7E}));
    EXPECT_EQ(monitor->appliedSets(), (std::vector<VCPSet>{{0x62, 30}}));

    // Values beyond one byte and a control added by the test, with its own type byte.
    monitor->setControl(0x8D, VCPControl{0x0102, 0xFFFF, kVCPTypeMomentary});
    send(*monitor, {0x82, 0x01, 0x8D, 0x31});
    EXPECT_EQ(readBack(*monitor),
              (Bytes{0x6E, 0x88, 0x02, 0x00, 0x8D, 0x01, 0xFF, 0xFF, 0x01, 0x02, 0x3B}));
}

TEST(SimMonitor, IgnoresEveryMalformedRequestWhileTheBusReportsSuccess) {
    auto monitor = SimMonitor::create();
    const std::vector<Bytes> malformed{
        {0x84, 0x03, 0x62, 0x00, 0x1E, 0xC5}, // checksum off by one bit
        {0x84, 0x03, 0x62, 0x00, 0x1E},       // checksum missing
        {0x85, 0x03, 0x62, 0x00, 0x1E, 0xC5}, // length byte claims 5
        {0x04, 0x03, 0x62, 0x00, 0x1E, 0x44}, // length flag missing
        {0x84, 0x01, 0x62, 0x00, 0x1E, 0xC6}, // Get opcode with a Set's length
        {0x82, 0x07, 0x62, 0xD8},             // unknown opcode
        {0x82, 0x01, 0x62, 0xDE, 0x00},       // trailing byte
        {0x82},                               // length byte alone
        {},
    };
    for (const auto& request : malformed) {
        EXPECT_EQ(send(*monitor, request), kIOReturnSuccess);
        EXPECT_EQ(readBack(*monitor), kNullReply);
    }
    // Well formed for another source address, and right for 0x51 but sent as from 0x50.
    EXPECT_EQ(send(*monitor, {0x82, 0x01, 0x62, 0xDF}, 0x37, 0x50), kIOReturnSuccess);
    EXPECT_EQ(readBack(*monitor), kNullReply);
    EXPECT_EQ(send(*monitor, {0x84, 0x03, 0x62, 0x00, 0x1E, 0xC4}, 0x37, 0x50), kIOReturnSuccess);
    EXPECT_EQ(monitor->control(0x62)->current, 50);
    EXPECT_TRUE(monitor->appliedSets().empty());

    // Nobody answers at another chip address.
    EXPECT_EQ(send(*monitor, {0x84, 0x03, 0x62, 0x00, 0x1E, 0xC4}, 0x38), kIOReturnNotResponding);
    EXPECT_EQ(monitor->control(0x62)->current, 50);
}

} // namespace
} // namespace varnu::sim
