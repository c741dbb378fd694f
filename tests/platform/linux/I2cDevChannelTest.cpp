#include "platform/linux/I2cDevChannel.h"

#include "RecordingI2cTransport.h"
#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"

#include <cerrno>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::ElementsAre;
using testing::RecordingI2cTransport;

constexpr const char* kBus = "/dev/i2c-4";

struct Channel {
    std::shared_ptr<RecordingI2cTransport> transport = std::make_shared<RecordingI2cTransport>();
    std::unique_ptr<I2cDevChannel> channel;

    Channel() {
        channel = I2cDevChannel::open(transport, kBus, kDDCChipAddress).channel;
        transport->calls.clear();
    }
};

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

const std::vector<std::uint8_t> kSetVolume50{0x84, 0x03, 0x62, 0x00, 0x32, 0xE8};
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};

TEST(I2cDevChannel, OpensBindsTheDisplayAddressAndClosesWhenItDies) {
    auto transport = std::make_shared<RecordingI2cTransport>();
    {
        auto opened = I2cDevChannel::open(transport, kBus, kDDCChipAddress);
        ASSERT_TRUE(opened.channel);
        EXPECT_EQ(opened.error, 0);
        EXPECT_THAT(transport->calls, ElementsAre("open /dev/i2c-4", "slave 3: 37"));
    }
    EXPECT_EQ(transport->calls.back(), "close 3");

    transport->calls.clear();
    transport->failures["slave /dev/i2c-4"] = {-EBUSY};
    auto busy = I2cDevChannel::open(transport, kBus, kDDCChipAddress);
    EXPECT_FALSE(busy.channel);
    EXPECT_EQ(busy.error, EBUSY);
    EXPECT_THAT(transport->calls, ElementsAre("open /dev/i2c-4", "slave 4: 37", "close 4"));

    transport->failures["open /dev/i2c-9"] = {-ENOENT};
    auto missing = I2cDevChannel::open(transport, "/dev/i2c-9", kDDCChipAddress);
    EXPECT_FALSE(missing.channel);
    EXPECT_EQ(missing.error, ENOENT);
}

TEST(I2cDevChannel, FramesWritesAndReadsUnderTheBusLock) {
    Channel bus;
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kSetVolume50), 0);
    // A request without a reply is a transaction of its own.
    EXPECT_THAT(bus.transport->calls,
                ElementsAre("lock 3", "write 3: 51 84 03 62 00 32 E8", "unlock 3"));

    bus.transport->calls.clear();
    bus.transport->replies.push_back(
        {0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00});
    std::vector<std::uint8_t> reply(kGetVCPFeatureReplySize);
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume), 0);
    EXPECT_EQ(bus.channel->readI2C(kDDCChipAddress, kDDCHostAddress, reply), 0);
    // The request and its reply share one lock, so no other program comes between them.
    EXPECT_THAT(bus.transport->calls,
                ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "read 3: 11", "unlock 3"));
    EXPECT_EQ(reply[9], 0x32);
}

TEST(I2cDevChannel, AnswersTheErrnoOfTheFailingCall) {
    Channel bus;
    auto write = [&] {
        return bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume);
    };
    std::vector<std::uint8_t> reply(kGetVCPFeatureReplySize);
    auto read = [&] { return bus.channel->readI2C(kDDCChipAddress, kDDCHostAddress, reply); };

    bus.transport->failures["write /dev/i2c-4"] = {-ENXIO};
    EXPECT_EQ(write(), ENXIO);
    // A refused request releases the lock at once.
    EXPECT_THAT(bus.transport->calls, ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "unlock 3"));

    bus.transport->writeCounts.push_back(2);
    EXPECT_EQ(write(), EIO);

    bus.transport->failures["read /dev/i2c-4"] = {-EREMOTEIO};
    EXPECT_EQ(read(), EREMOTEIO);
    bus.transport->replies.push_back({0x6E, 0x88, 0x02});
    EXPECT_EQ(read(), EIO);

    bus.transport->calls.clear();
    bus.transport->failures["lock /dev/i2c-4"] = {-EWOULDBLOCK};
    EXPECT_EQ(write(), EWOULDBLOCK);
    EXPECT_THAT(bus.transport->calls, ElementsAre("lock 3"));

    // Another chip or a data address that is no byte never reaches the bus.
    bus.transport->calls.clear();
    EXPECT_EQ(bus.channel->writeI2C(0x50, kDDCHostAddress, kGetVolume), EINVAL);
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, 0x151, kGetVolume), EINVAL);
    EXPECT_EQ(bus.channel->readI2C(0x50, kDDCHostAddress, reply), EINVAL);
    EXPECT_TRUE(bus.transport->calls.empty());
}

TEST(I2cDevChannel, AReplyNeverReadDoesNotKeepTheBusLocked) {
    Channel bus;
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume), 0);
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kSetVolume50), 0);
    EXPECT_THAT(bus.transport->calls, ElementsAre("lock 3", "write 3: 51 82 01 62 DE",
                                                  "write 3: 51 84 03 62 00 32 E8", "unlock 3"));

    bus.transport->calls.clear();
    EXPECT_EQ(bus.channel->writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume), 0);
    bus.channel.reset();
    EXPECT_THAT(bus.transport->calls,
                ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "unlock 3", "close 3"));
}

TEST(I2cDevChannel, CarriesTheMonitorsTransactions) {
    auto transport = std::make_shared<RecordingI2cTransport>();
    auto opened = I2cDevChannel::open(transport, kBus, kDDCChipAddress);
    DDCMonitor monitor(std::move(opened.channel), "DELL U2723QE", std::make_shared<NoPause>());
    transport->calls.clear();

    transport->replies.push_back(
        {0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0x00});
    EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume), (VCPReading{50, 100}));
    EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, 50));
    EXPECT_THAT(transport->calls,
                ElementsAre("lock 3", "write 3: 51 82 01 62 DE", "read 3: 11", "unlock 3", "lock 3",
                            "write 3: 51 84 03 62 00 32 E8", "unlock 3", "lock 3",
                            "write 3: 51 84 03 62 00 32 E8", "unlock 3"));

    // A display that does not answer.
    transport->failures["read /dev/i2c-4"] = {-EREMOTEIO};
    EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume), std::nullopt);
}

} // namespace
} // namespace varnu::linux_backend
