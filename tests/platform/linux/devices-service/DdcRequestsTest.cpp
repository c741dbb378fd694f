// The DDC/CI transfers the device service performs: exactly Varnu's own requests.

#include "platform/linux/devices-service/DdcRequests.h"

#include <gtest/gtest.h>

namespace varnu::linux_backend::devices {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(DdcRequests, OnlyWholeVolumeMuteAndMenuRequestsAtTheDisplaysAddress) {
    const Bytes getVolume{0x82, 0x01, 0x62, 0xDE};
    const Bytes setMenuHidden{0x84, 0x03, 0xCA, 0x00, 0x01, 0x73};
    const struct {
        const char* what;
        std::uint8_t chip;
        std::uint8_t data;
        Bytes bytes;
        bool allowed;
    } writes[] = {
        {"Get VCP volume", 0x37, 0x51, getVolume, true},
        {"Set VCP menu hidden", 0x37, 0x51, setMenuHidden, true},
        {"Set VCP mute", 0x37, 0x51, {0x84, 0x03, 0x8D, 0x00, 0x01, 0x34}, true},
        {"the EDID's EEPROM", 0x50, 0x51, getVolume, false},
        {"another host address", 0x37, 0x50, getVolume, false},
        {"a wrong checksum", 0x37, 0x51, {0x82, 0x01, 0x62, 0xDF}, false},
        {"brightness", 0x37, 0x51, {0x82, 0x01, 0x10, 0xAC}, false},
        {"a factory reset", 0x37, 0x51, {0x84, 0x03, 0x04, 0x00, 0x01, 0xBD}, false},
        {"a Get VCP with a Set's length", 0x37, 0x51, {0x84, 0x01, 0x62, 0xDE, 0x00, 0x00}, false},
        {"an EEPROM offset", 0x37, 0x51, {0x00}, false},
        {"nothing", 0x37, 0x51, {}, false},
    };
    for (const auto& write : writes) {
        EXPECT_EQ(isAllowed(DdcWrite{1, {}, write.chip, write.data, write.bytes}), write.allowed)
            << write.what;
    }
    EXPECT_TRUE(isAllowed(DdcRead{1, {}, 0x37, 0x51, 11}));
    EXPECT_FALSE(isAllowed(DdcRead{1, {}, 0x50, 0x51, 11})) << "the EDID";
    EXPECT_FALSE(isAllowed(DdcRead{1, {}, 0x37, 0x51, 10}));
}

} // namespace
} // namespace varnu::linux_backend::devices
