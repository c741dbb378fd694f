#include "platform/linux/I2cDevChannel.h"

#include "RecordingI2cTransport.h"
#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"

#include <cerrno>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::ElementsAre;

constexpr const char* kBus = "/dev/i2c-4";
const std::vector<std::uint8_t> kSetVolume50{0x84, 0x03, 0x62, 0x00, 0x32, 0xE8};
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

class I2cDevChannelTest : public ::testing::Test {
protected:
    I2cDevChannelTest() { transport->calls.clear(); }

    int write(std::uint32_t chip, std::uint32_t dataAddress,
              const std::vector<std::uint8_t>& bytes) {
        return channel->writeI2C(chip, dataAddress, bytes);
    }

    std::shared_ptr<testing::RecordingI2cTransport> transport =
        std::make_shared<testing::RecordingI2cTransport>();
    std::unique_ptr<I2cDevChannel> channel =
        I2cDevChannel::open(transport, kBus, kDDCChipAddress).channel;
};

TEST_F(I2cDevChannelTest, OpensBindsTheDisplayAddressAndClosesWhenItDies) {
    auto opened = I2cDevChannel::open(transport, kBus, kDDCChipAddress);
    ASSERT_TRUE(opened.channel);
    EXPECT_EQ(opened.error, 0);
    opened.channel.reset();
    EXPECT_THAT(transport->calls, ElementsAre("open /dev/i2c-4", "slave 4: 37", "close 4"));

    transport->calls.clear();
    transport->failures["slave /dev/i2c-4"] = {-EBUSY};
    auto busy = I2cDevChannel::open(transport, kBus, kDDCChipAddress);
    EXPECT_FALSE(busy.channel);
    EXPECT_EQ(busy.error, EBUSY);
    EXPECT_THAT(transport->calls, ElementsAre("open /dev/i2c-4", "slave 5: 37", "close 5"));
    transport->failures["open /dev/i2c-9"] = {-ENOENT};
    EXPECT_EQ(I2cDevChannel::open(transport, "/dev/i2c-9", kDDCChipAddress).error, ENOENT);
}

TEST_F(I2cDevChannelTest, CarriesTheMonitorsTransactionsEachUnderOneBusLock) {
    DDCMonitor monitor(std::move(channel), "DELL U2723QE", std::make_shared<NoPause>());
    transport->replies.push_back(
        {0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0x80});
    EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume), (VCPReading{50, 100}));
    EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, 50));
    // The request and its reply share one lock, so no other program comes between them; a
    // request without a reply is a transaction of its own.
    EXPECT_THAT(transport->calls,
                ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "read 3: 11", "unlock 3", "lock 3",
                            "write 3: 51 84 03 62 00 32 E8", "unlock 3", "lock 3",
                            "write 3: 51 84 03 62 00 32 E8", "unlock 3"));
    transport->failures["read /dev/i2c-4"] = {-EREMOTEIO};
    EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume), std::nullopt);
}

TEST_F(I2cDevChannelTest, AnswersTheErrnoOfTheFailingCall) {
    std::vector<std::uint8_t> reply(kGetVCPFeatureReplySize);
    auto read = [&] { return channel->readI2C(kDDCChipAddress, kDDCHostAddress, reply); };
    transport->failures["write /dev/i2c-4"] = {-ENXIO};
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kGetVolume), ENXIO);
    // A refused request releases the lock at once.
    EXPECT_THAT(transport->calls, ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "unlock 3"));
    transport->writeCounts.push_back(2);
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kGetVolume), EIO);
    transport->failures["read /dev/i2c-4"] = {-EREMOTEIO};
    EXPECT_EQ(read(), EREMOTEIO);
    transport->replies.push_back({0x6E, 0x88, 0x02});
    EXPECT_EQ(read(), EIO);

    transport->calls.clear();
    transport->failures["lock /dev/i2c-4"] = {-EWOULDBLOCK};
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kGetVolume), EWOULDBLOCK);
    EXPECT_THAT(transport->calls, ElementsAre("lock 3"));

    // Another chip or a data address that is no byte never reaches the bus.
    transport->calls.clear();
    EXPECT_EQ(write(0x50, kDDCHostAddress, kGetVolume), EINVAL);
    EXPECT_EQ(write(kDDCChipAddress, 0x151, kGetVolume), EINVAL);
    EXPECT_EQ(channel->readI2C(0x50, kDDCHostAddress, reply), EINVAL);
    EXPECT_TRUE(transport->calls.empty());
}

TEST_F(I2cDevChannelTest, AReplyNeverReadDoesNotKeepTheBusLocked) {
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kGetVolume), 0);
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kSetVolume50), 0);
    EXPECT_EQ(write(kDDCChipAddress, kDDCHostAddress, kGetVolume), 0);
    channel.reset();
    EXPECT_THAT(transport->calls, ElementsAre("lock 3", "write 3: 51 82 01 62 DE",
                                              "write 3: 51 84 03 62 00 32 E8", "unlock 3", "lock 3",
                                              "write 3: 51 82 01 62 DE", "unlock 3", "close 3"));
}

} // namespace
} // namespace varnu::linux_backend
