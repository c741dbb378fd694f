#include "ddc/DDCMonitor.h"

#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimPause.h"

#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Traffic = std::vector<std::tuple<std::int64_t, sim::I2CDirection, Bytes>>;
constexpr auto W = sim::I2CDirection::Write;
constexpr auto R = sim::I2CDirection::Read;

// A DDCMonitor talking to a simulated display, with its pauses in virtual time.
struct Rig {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimPause> pause = std::make_shared<sim::SimPause>(scheduler);
    std::shared_ptr<sim::SimMonitor> display = sim::SimMonitor::create(scheduler);
    DDCMonitor monitor{display->makeService(), "DELL U2723QE", pause};

    Traffic traffic() const {
        Traffic result;
        for (const auto& transaction : display->transactions()) {
            EXPECT_EQ(transaction.chipAddress, 0x37u);
            EXPECT_EQ(transaction.dataAddress, 0x51u);
            result.emplace_back(transaction.timeMilliseconds, transaction.direction,
                                transaction.bytes);
        }
        display->clearLog();
        return result;
    }
};

TEST(DDCMonitorWrite, SendsSetVCPFeatureTwiceTenMillisecondsApart) {
    Rig rig;
    EXPECT_TRUE(rig.monitor.write(0x62, 50));
    const Bytes fifty{0x84, 0x03, 0x62, 0x00, 0x32, 0xE8};
    EXPECT_EQ(rig.traffic(), (Traffic{{0, W, fifty}, {10, W, fifty}}));
    EXPECT_EQ(rig.pause->pauses(), (std::vector<std::uint32_t>{10'000, 10'000}));
    EXPECT_EQ(rig.display->control(0x62)->current, 50);

    EXPECT_TRUE(rig.monitor.write(0x62, 0));
    EXPECT_EQ(std::get<Bytes>(rig.traffic().at(0)), (Bytes{0x84, 0x03, 0x62, 0x00, 0x00, 0xDA}));
    // The value is big-endian: a value above 255 puts its high byte first.
    EXPECT_TRUE(rig.monitor.write(0xCA, 0x0102));
    EXPECT_EQ(std::get<Bytes>(rig.traffic().at(0)), (Bytes{0x84, 0x03, 0xCA, 0x01, 0x02, 0x71}));

    // Either send being accepted is success; both refused still take their pauses.
    rig.display->refuseWrites(1);
    EXPECT_TRUE(rig.monitor.write(0x62, 40));
    rig.display->refuseWrites(2);
    EXPECT_FALSE(rig.monitor.write(0x62, 70));
    EXPECT_EQ(rig.display->control(0x62)->current, 40);
    EXPECT_EQ(rig.scheduler->nowMilliseconds(), 100);

    rig.display->disconnect();
    EXPECT_FALSE(rig.monitor.write(0x62, 70));
    EXPECT_FALSE(DDCMonitor(nullptr, "", rig.pause).write(0x62, 70));
}

TEST(DDCMonitorRead, AsksOnceWaitsFiftyMillisecondsAndReadsElevenBytes) {
    Rig rig;
    rig.display->setControl(0xCA, {1, 2, sim::kVCPTypeSetParameter});
    EXPECT_EQ(rig.monitor.read(0xCA), (VCPReading{.current = 1, .max = 2}));
    const auto traffic = rig.traffic();
    ASSERT_EQ(traffic.size(), 2u);
    EXPECT_EQ(traffic[0], std::make_tuple(std::int64_t{0}, W, Bytes{0x82, 0x01, 0xCA, 0x76}));
    EXPECT_EQ(std::get<0>(traffic[1]), 50);
    EXPECT_EQ(std::get<1>(traffic[1]), R);
    EXPECT_EQ(std::get<Bytes>(traffic[1]).size(), 11u);
    EXPECT_EQ(rig.pause->pauses(), (std::vector<std::uint32_t>{50'000}));

    // The maximum comes first in the reply, the current value first in the result.
    rig.display->setControl(0x62, {0xFFFF, 0x0102, sim::kVCPTypeSetParameter});
    EXPECT_EQ(rig.monitor.read(0x62), (VCPReading{.current = 65535, .max = 258}));

    // The type byte is not examined; a momentary control reads like any other.
    rig.display->scriptNextReply(
        {0x6E, 0x88, 0x02, 0x00, 0xCA, 0x7F, 0x00, 0x02, 0x00, 0x01, 0x02});
    EXPECT_EQ(rig.monitor.read(0xCA), (VCPReading{.current = 1, .max = 2}));
}

TEST(DDCMonitorRead, GivesNothingWhenTheExchangeFailsOrTheReplyIsNotForThisRequest) {
    Rig rig;
    rig.display->refuseWrites(1);
    EXPECT_FALSE(rig.monitor.read(0x62));
    EXPECT_TRUE(rig.pause->pauses().empty());
    rig.display->refuseReads(1);
    EXPECT_FALSE(rig.monitor.read(0x62));
    // Unsupported code: result code 0x01.
    EXPECT_FALSE(rig.monitor.read(0x10));
    rig.display->spoilReplies(sim::ReplyFault::OtherCode);
    EXPECT_FALSE(rig.monitor.read(0x62));
    // Silence: the Null Message has no Get VCP Feature Reply opcode.
    rig.display->spoilReplies(sim::ReplyFault::Silent);
    EXPECT_FALSE(rig.monitor.read(0x62));
    rig.display->scriptNextReply(
        {0x6E, 0x88, 0x03, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0xAD});
    EXPECT_FALSE(rig.monitor.read(0x62));
    rig.display->scriptNextReply(
        {0x6E, 0x88, 0x02, 0x01, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0xAD});
    EXPECT_FALSE(rig.monitor.read(0x62));
    rig.display->disconnect();
    EXPECT_FALSE(rig.monitor.read(0x62));
    EXPECT_FALSE(DDCMonitor(nullptr, "", rig.pause).read(0x62));
}

TEST(DDCMonitorRead, GivesNothingForACorruptedReply) {
    Rig rig;
    rig.display->spoilReplies(sim::ReplyFault::BadChecksum);
    EXPECT_FALSE(rig.monitor.read(0x62));
    EXPECT_EQ(rig.monitor.read(0x62), (VCPReading{.current = 50, .max = 100}));

    // 50 of 100 as the display sends it, then with one byte changed on the way. A changed value
    // byte is caught by the checksum alone; a changed source or length byte by its own check
    // too, so each of those replies is also given with a checksum that fits it.
    const Bytes sound{0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32, 0x80};
    rig.display->scriptNextReply(sound);
    EXPECT_EQ(rig.monitor.read(0x62), (VCPReading{.current = 50, .max = 100}));
    const auto reseal = [](Bytes bytes) {
        bytes.back() = 0x50;
        for (std::size_t i = 0; i + 1 < bytes.size(); ++i) {
            bytes.back() ^= bytes[i];
        }
        return bytes;
    };
    for (const std::size_t index : {0, 1, 6, 7, 8, 9, 10}) {
        Bytes damaged = sound;
        damaged[index] ^= 0x04;
        rig.display->scriptNextReply(damaged);
        EXPECT_FALSE(rig.monitor.read(0x62)) << "byte " << index;
        if (index < 2) {
            rig.display->scriptNextReply(reseal(damaged));
            EXPECT_FALSE(rig.monitor.read(0x62)) << "resealed byte " << index;
        }
    }
    // A reply shorter than eleven bytes leaves zeros where the checksum should be.
    rig.display->scriptNextReply({0x6E, 0x88, 0x02, 0x00, 0x62, 0x00, 0x00, 0x64, 0x00, 0x32});
    EXPECT_FALSE(rig.monitor.read(0x62));
}

} // namespace
} // namespace varnu
