#include "platform/linux/displays/I2cDevChannel.h"

#include "RecordingI2cTransport.h"
#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"

#include <cerrno>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr const char* kBus = "/dev/i2c-4";
const std::vector<std::uint8_t> kSetVolume50{0x84, 0x03, 0x62, 0x00, 0x32, 0xE8};
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};
const std::vector<std::uint8_t> kVolumeReply{0x6E, 0x88, 0x02, 0x00, 0x62, 0x00,
                                             0x00, 0x64, 0x00, 0x32, 0x80};

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

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

TEST_F(I2cDevChannelTest, OpensTheBusForEachTransactionAndKeepsNothingBetween) {
    EXPECT_TRUE(transport->calls.empty());
    DDCMonitor monitor(std::move(channel), "DELL U2723QE", std::make_shared<NoPause>());
    transport->replies.push_back(kVolumeReply);
    EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume), (VCPReading{50, 100}));
    EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, 50));
    // The request and its reply share one descriptor and its lock, so no other program comes
    // between them; a request without a reply is a transaction of its own.
    EXPECT_THAT(transport->calls,
                ElementsAre("open /dev/i2c-4", "slave 3: 37", "lock 3", "write 3: 51 82 01 62 DE",
                            "read 3: 11", "close 3", "open /dev/i2c-4", "slave 4: 37", "lock 4",
                            "write 4: 51 84 03 62 00 32 E8", "close 4", "open /dev/i2c-4",
                            "slave 5: 37", "lock 5", "write 5: 51 84 03 62 00 32 E8", "close 5"));
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

    // A failed transaction left nothing open, and another chip or a data address that is no
    // byte never reaches the bus.
    transport->calls.clear();
    EXPECT_EQ(write(kGetVolume, 0x50), EINVAL);
    EXPECT_EQ(write(kGetVolume, kDDCChipAddress, 0x151), EINVAL);
    channel.reset();
    EXPECT_TRUE(transport->calls.empty());
}

TEST_F(I2cDevChannelTest, AReplyNeverReadEndsItsTransactionAtTheNextWrite) {
    EXPECT_EQ(write(kGetVolume), 0);
    EXPECT_EQ(write(kSetVolume50), 0);
    EXPECT_EQ(write(kGetVolume), 0);
    channel.reset();
    EXPECT_THAT(transport->calls,
                ElementsAre("open /dev/i2c-4", "slave 3: 37", "lock 3", "write 3: 51 82 01 62 DE",
                            "close 3", "open /dev/i2c-4", "slave 4: 37", "lock 4",
                            "write 4: 51 84 03 62 00 32 E8", "close 4", "open /dev/i2c-4",
                            "slave 5: 37", "lock 5", "write 5: 51 82 01 62 DE", "close 5"));
}

} // namespace
} // namespace varnu::linux_backend
