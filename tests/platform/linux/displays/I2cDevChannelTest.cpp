#include "platform/linux/displays/I2cDevChannel.h"

#include "RecordingI2cTransport.h"
#include "ddc/VCP.h"

#include <array>
#include <cerrno>
#include <deque>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::HasSubstr;

constexpr const char* kBus = "/dev/i2c-4";
const std::vector<std::uint8_t> kSetVolume50{0x84, 0x03, 0x62, 0x00, 0x32, 0xE8};
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};
// With a wrong checksum (0x80 would be right): the channel hands up what came, the core judges.
const std::vector<std::uint8_t> kVolumeReply{0x6E, 0x88, 0x02, 0x00, 0x62, 0x00,
                                             0x00, 0x64, 0x00, 0x32, 0x81};

class I2cDevChannelTest : public ::testing::Test {
protected:
    int write(const std::vector<std::uint8_t>& bytes, std::uint32_t chip = kDDCChipAddress,
              std::uint32_t dataAddress = kDDCHostAddress) {
        return channel->writeI2C(chip, dataAddress, bytes);
    }
    int read(std::size_t size = kGetVCPFeatureReplySize) {
        std::vector<std::uint8_t> reply(size);
        return channel->readI2C(kDDCChipAddress, kDDCHostAddress, reply);
    }

    std::shared_ptr<testing::RecordingI2cTransport> transport =
        std::make_shared<testing::RecordingI2cTransport>();
    std::ostringstream log;
    std::unique_ptr<I2cDevChannel> channel = std::make_unique<I2cDevChannel>(
        transport, kBus, kDDCChipAddress, std::make_shared<I2cDevReports>(&log));
};

TEST_F(I2cDevChannelTest, EachTransactionHasADescriptorAndALockOfItsOwn) {
    // What one transaction on descriptor fd does, ending in a read of a reply or not.
    std::vector<std::string> expected;
    const auto transaction = [&](int fd, const std::string& bytes, bool withReply) {
        const auto n = std::to_string(fd);
        expected.insert(expected.end(), {"open /dev/i2c-4", "slave " + n + ": 37", "lock " + n,
                                         "write " + n + ": 51 " + bytes});
        if (withReply) {
            expected.push_back("read " + n + ": 11");
        }
        expected.push_back("close " + n);
    };
    EXPECT_TRUE(transport->calls.empty());
    // The request and its reply share one descriptor and its lock, so no other program comes
    // between them; a reply never read ends its transaction at the next write, or when the
    // channel goes; a request without a reply is a transaction of its own.
    transport->replies.push_back(kVolumeReply);
    EXPECT_EQ(write(kGetVolume), 0);
    std::vector<std::uint8_t> reply(kGetVCPFeatureReplySize);
    EXPECT_EQ(channel->readI2C(kDDCChipAddress, kDDCHostAddress, reply), 0);
    EXPECT_EQ(reply, kVolumeReply);
    transaction(3, "82 01 62 DE", true);
    EXPECT_EQ(write(kGetVolume), 0);
    transaction(4, "82 01 62 DE", false);
    EXPECT_EQ(write(kSetVolume50), 0);
    transaction(5, "84 03 62 00 32 E8", false);
    EXPECT_EQ(transport->calls, expected);
    EXPECT_EQ(write(kGetVolume), 0);
    transaction(6, "82 01 62 DE", false);
    channel.reset();
    EXPECT_EQ(transport->calls, expected);
}

TEST_F(I2cDevChannelTest, AnswersEveryFailureAsAResultAndReportsEachCauseOnce) {
    for (int round = 0; round < 2; ++round) {
        transport->failures["open /dev/i2c-4"] = {-EACCES};
        EXPECT_EQ(write(kSetVolume50), EACCES);
        transport->failures["lock /dev/i2c-4"] = {-EWOULDBLOCK};
        EXPECT_EQ(write(kSetVolume50), EBUSY);
        for (int error : {EIO, ENXIO, EREMOTEIO, EAGAIN}) {
            transport->failures["write /dev/i2c-4"] = {-error};
            EXPECT_EQ(write(kGetVolume), error);
            transport->failures["read /dev/i2c-4"] = {-error};
            EXPECT_EQ(read(), error);
        }
        transport->writeCounts.push_back(2);
        EXPECT_EQ(write(kSetVolume50), EIO);
        transport->replies.push_back({0x6E, 0x88, 0x02});
        EXPECT_EQ(read(), EIO);
        // The Null Message is a display's answer, handed up as read.
        transport->replies.push_back({0x6E, 0x80, 0xBE});
        EXPECT_EQ(read(3), 0);
    }
    const auto text = log.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 13) << text;
    EXPECT_THAT(text, HasSubstr("varnu: /dev/i2c-4: permission denied on /dev/i2c-4"));
    EXPECT_THAT(text, HasSubstr("held by another program"));
    EXPECT_THAT(text, HasSubstr("Null Message"));
    // Names come from devices: their control characters reach the terminal escaped.
    I2cDevReports(&log).report("card0-HDMI-A-1", "cause", "Dell\x1B[2J");
    EXPECT_THAT(log.str(), HasSubstr("varnu: card0-HDMI-A-1: Dell\\x1B[2J\n"));

    // A failed transaction left nothing open, and another chip or a data address that is no
    // byte never reaches the bus.
    transport->calls.clear();
    EXPECT_EQ(write(kGetVolume, 0x50), EINVAL);
    EXPECT_EQ(write(kGetVolume, kDDCChipAddress, 0x151), EINVAL);
    channel.reset();
    EXPECT_TRUE(transport->calls.empty());
}

TEST_F(I2cDevChannelTest, ReadsAnEdidInOneTransferWhereTheAdapterAllows) {
    // The EEPROM's offset and its contents; where the adapter cannot carry both in one transfer,
    // two transfers as before.
    struct Case {
        bool plainI2C;
        std::deque<int> combinedFailure;
        std::vector<std::string> transfers;
        IOReturn status = kIOReturnSuccess;
    };
    const std::vector<Case> cases{
        {true, {}, {"message 50 3: 00, read 128"}},
        {false, {}, {"write 3: 00", "read 3: 128"}},
        {true, {-EOPNOTSUPP}, {"message 50 3: 00, read 128", "write 3: 00", "read 3: 128"}},
        {true, {-EREMOTEIO}, {"message 50 3: 00, read 128"}, EREMOTEIO},
    };
    for (const auto& [plainI2C, combinedFailure, transfers, status] : cases) {
        auto recording = std::make_shared<testing::RecordingI2cTransport>();
        recording->plainI2C = plainI2C;
        recording->failures["message 50 /dev/i2c-4"] = combinedFailure;
        recording->replies.push_back(std::vector<std::uint8_t>(128, 0x5A));
        std::vector<std::uint8_t> edid(128);
        const std::array<std::uint8_t, 1> offset{0x00};
        EXPECT_EQ(I2cDevChannel(recording, kBus, 0x50).writeThenRead(offset, edid), status);
        std::vector<std::string> expected{"open /dev/i2c-4", "slave 3: 50", "lock 3",
                                          "functions 3"};
        expected.insert(expected.end(), transfers.begin(), transfers.end());
        expected.push_back("close 3");
        EXPECT_EQ(recording->calls, expected);
    }
}

} // namespace
} // namespace varnu::linux_backend
