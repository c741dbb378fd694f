// The device service's words: each message in its fixed layout, byte for byte.

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <vector>

#include <gtest/gtest.h>

namespace varnu::linux_backend::devices {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const Packet& packet) {
    auto view = packet.view();
    return {view.begin(), view.end()};
}

TEST(DevicesProtocol, EveryMessageRoundTripsInItsOwnFixedLayout) {
    const KeyStroke stroke{VolumeKey::Mute, KeyAction::Repeat, kShiftHeld | kSuperHeld};
    const std::vector<std::pair<ClientMessage, Bytes>> client{
        {Hello{}, {0x01, 'V', 'R', 'N', 'D', 0x03, 0x00}},
        {TapWanted{true}, {0x10, 0x01}},
        {Answer{0x01020304, true}, {0x12, 0x04, 0x03, 0x02, 0x01, 0x01}},
        {DisplaysWanted{}, {0x20}},
        {DdcWrite{9, {3, 1}, 0x37, 0x51, {0x82, 0x01, 0x62, 0xDE}},
         {0x22, 9,    0,    0,    0,    3, 0, 0, 0, 1, 0x37, 0x51,
          4,    0x82, 0x01, 0x62, 0xDE, 0, 0, 0, 0, 0, 0,    0}},
        {DdcRead{9, {3, 1}, 0x37, 0x51, 11}, {0x23, 9, 0, 0, 0, 3, 0, 0, 0, 1, 0x37, 0x51, 11}},
    };
    for (const auto& [message, bytes] : client) {
        EXPECT_EQ(bytesOf(encode(message)), bytes);
        EXPECT_EQ(parseClientMessage(bytes), message);
        EXPECT_FALSE(parseServiceMessage(bytes)) << "a client's word is no service's";
    }
    const std::vector<std::pair<ServiceMessage, Bytes>> service{
        {Welcome{}, {0x02, 0x03, 0x00}},
        {Refused{RefusalReason::NoLoginManager}, {0x03, 0x02}},
        {Standing{ClientStanding::SessionInactive, 0x01020304}, {0x04, 0x02, 4, 3, 2, 1}},
        {Question{7, stroke, 0x0102}, {0x11, 0x07, 0x00, 0x00, 0x00, 0x03, 0x02, 0x09, 0x02, 0x01}},
        {Notice{stroke}, {0x13, 0x03, 0x02, 0x09}},
        {TapSwitchedOff{SwitchOffCause::UserInput}, {0x14, 0x02}},
        {DdcResult{9, 5, {0x6E}},
         {0x24, 9, 0, 0, 0, 5, 0, 0, 0, 1, 0x6E, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
    };
    for (const auto& [message, bytes] : service) {
        EXPECT_EQ(bytesOf(encode(message)), bytes);
        EXPECT_EQ(parseServiceMessage(bytes), message);
        EXPECT_FALSE(parseClientMessage(bytes));
    }
    // A display entry: its text zero-padded to the field, and nothing after a NUL.
    Bytes entry{0x21, 2, 0, 0, 0, 1, 3, 'L', 'G'};
    entry.resize(entry.size() + kProductNameField - 2);
    entry.insert(entry.end(), {'c', 'a', 'r', 'd', '0'});
    entry.resize(entry.size() + kIdentityField - 5);
    entry.insert(entry.end(), {0x05, 0x01});
    const ServiceMessage listed{DisplayEntry{2, 1, 3, "LG", "card0", 0x105}};
    EXPECT_EQ(bytesOf(encode(listed)), entry);
    EXPECT_EQ(parseServiceMessage(entry), listed);
    entry[10] = 'x';
    EXPECT_FALSE(parseServiceMessage(entry)) << "text after the NUL";
    EXPECT_EQ(familyOf(kindOf(ServiceMessage{Question{}})), Family::Keys);
    EXPECT_EQ(familyOf(kindOf(ClientMessage{DdcRead{}})), Family::Displays);
    EXPECT_EQ(familyOf(kindOf(ClientMessage{Hello{}})), Family::Connection);
    // A Hello of another version is still a Hello, so that the service can say why not; what
    // else a parse refuses, the fuzz target holds it to.
    EXPECT_EQ(parseClientMessage(Bytes{0x01, 'V', 'R', 'N', 'D', 0x09, 0x00}),
              ClientMessage{Hello{9}});
    EXPECT_FALSE(parseClientMessage(Bytes{0x01, 'V', 'R', 'N', 'X', 0x01, 0x00}));
}

} // namespace
} // namespace varnu::linux_backend::devices
