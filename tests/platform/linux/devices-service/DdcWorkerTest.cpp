// The service's DDC/CI thread on a transport without a bus: which client's transfer goes when,
// while a Get VCP request waits for its reply, and what a released client leaves behind.

#include "platform/linux/devices-service/DdcWorker.h"

#include "tests/platform/linux/displays/RecordingI2cTransport.h"

#include <condition_variable>
#include <mutex>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend::devices {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::Pair;

const std::string kFirst = "/dev/i2c-4";
const std::string kSecond = "/dev/i2c-5";
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};

DdcWorker::Work written(std::uint32_t id, const std::vector<std::uint8_t>& bytes) {
    return [id, bytes](I2cDevChannel& channel) {
        return DdcResult{id, static_cast<std::uint32_t>(channel.writeI2C(0x37, 0x51, bytes)), {}};
    };
}

// Ids and statuses in the order the worker answered them.
class Answers {
public:
    void add(DdcWorker::ClientId, const DdcResult& result) {
        std::lock_guard lock(mutex_);
        answered_.emplace_back(result.id, result.status);
        changed_.notify_all();
    }
    std::vector<std::pair<std::uint32_t, std::uint32_t>> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5), [&] { return answered_.size() >= count; });
        return answered_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> answered_;
};

TEST(DdcWorker, AGetVCPRequestKeepsItsBusForItsClientAloneUntilItReadsOrIsReleased) {
    auto transport = std::make_shared<testing::RecordingI2cTransport>();
    transport->replies.emplace_back(kGetVCPFeatureReplySize);
    Answers answers;
    // No transaction ends by its time here: only the client's read or its release end it.
    DdcWorker worker(
        transport, nullptr, [&](auto client, const auto& result) { answers.add(client, result); },
        std::chrono::hours(1));
    worker.queue(1, kFirst, 1, true, written(1, kGetVolume));
    answers.waitFor(1);
    worker.queue(2, kFirst, 2, true, written(2, kGetVolume));
    worker.queue(2, kSecond, 3, true, written(3, kGetVolume));
    worker.queue(1, kFirst, 4, false, [](I2cDevChannel& channel) {
        std::array<std::uint8_t, 11> reply{};
        return DdcResult{4, static_cast<std::uint32_t>(channel.readI2C(0x37, 0x51, reply)), {}};
    });
    EXPECT_THAT(answers.waitFor(4), ElementsAre(Pair(1, 0), Pair(3, 0), Pair(4, 0), Pair(2, 0)));

    // Client 2 holds both buses now; released, it lets go of them, and a transfer of its own
    // that still waits is refused.
    worker.queue(1, kFirst, 5, false, written(5, kGetVolume));
    worker.release(2);
    answers.waitFor(5);
    worker.queue(1, kFirst, 6, true, written(6, kGetVolume));
    answers.waitFor(6);
    worker.queue(2, kFirst, 7, false, written(7, kGetVolume));
    worker.release(2);
    EXPECT_THAT(answers.waitFor(7), ElementsAre(Pair(1, 0), Pair(3, 0), Pair(4, 0), Pair(2, 0),
                                                Pair(5, 0), Pair(6, 0), Pair(7, EPERM)));
}

} // namespace
} // namespace varnu::linux_backend::devices
