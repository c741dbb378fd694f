#include "app/VolumeKeys.h"
#include "platform/linux/displays/I2cDevChannel.h"
#include "tests/faults/RealTimeDesk.h"

#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing::RealTimeDesk;

constexpr auto kHang = 10s;
constexpr std::uint8_t kDDCChipAddress = 0x37;

// A bus on which every transfer hangs for ten seconds, or until the test lets it go.
class HangingTransport final : public linux_backend::I2cTransport {
public:
    int open(const std::string&) override { return 3; }
    int setSlaveAddress(int, std::uint8_t) override { return 0; }
    int lock(int) override { return 0; }
    int write(int, std::span<const std::uint8_t> bytes) override {
        hang();
        return static_cast<int>(bytes.size());
    }
    int read(int, std::span<std::uint8_t> buffer) override {
        hang();
        return static_cast<int>(buffer.size());
    }
    int writeMessage(int fd, std::uint8_t, std::span<const std::uint8_t> bytes) override {
        return write(fd, bytes);
    }
    int readMessage(int fd, std::uint8_t, std::span<std::uint8_t> buffer) override {
        return read(fd, buffer);
    }
    void close(int) override {}

    void release() {
        {
            std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }
    int transfers() {
        std::lock_guard lock(mutex_);
        return transfers_;
    }
    Clock::time_point lastTransfer() {
        std::lock_guard lock(mutex_);
        return lastTransfer_;
    }

private:
    void hang() {
        std::unique_lock lock(mutex_);
        ++transfers_;
        wake_.wait_for(lock, kHang, [&] { return released_; });
        lastTransfer_ = Clock::now();
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    bool released_ = false;
    int transfers_ = 0;
    Clock::time_point lastTransfer_ = Clock::now();
};

struct OneDisplay final : DisplayEnumerator {
    explicit OneDisplay(std::shared_ptr<HangingTransport> bus)
        : transport(std::move(bus)) {}
    std::shared_ptr<HangingTransport> transport;
    std::vector<ExternalDisplay> externalDisplays() override {
        std::vector<ExternalDisplay> displays;
        displays.push_back(ExternalDisplay{"DELL U2723QE",
                                           std::make_unique<linux_backend::I2cDevChannel>(
                                               transport, "/dev/i2c-7", kDDCChipAddress),
                                           "card0-DP-1"});
        return displays;
    }
};

TEST(HangingBus, NeitherTheKeysNorTheMainThreadNorTheQuitWaitForIt) {
    auto transport = std::make_shared<HangingTransport>();
    {
        RealTimeDesk desk;
        desk.addOutput("dell", "DELL U2723QE");
        desk.defaults->put("selectedDeviceUID", std::string("dell"));
        desk.defaults->put("step", std::int64_t{1});
        auto services = desk.services();
        services.registry = nullptr;
        services.displays = std::make_shared<OneDisplay>(transport);

        auto delegate = startApplication(services);
        desk.application->run();
        ASSERT_TRUE(desk.mainQueue->pumpUntil([&] { return transport->transfers() > 0; }, 5s));

        // A job on the main queue every 20 ms, to see whether anything kept the thread.
        auto lastBeat = Clock::now();
        auto longestGap = Clock::duration::zero();
        std::function<void()> beat = [&] {
            const auto now = Clock::now();
            longestGap = std::max(longestGap, now - lastBeat);
            lastBeat = now;
            desk.mainQueue->asyncAfter(20ms, beat);
        };
        desk.mainQueue->async(beat);

        // Keys for a second and a half while the bus hangs.
        auto longestKeyWait = Clock::duration::zero();
        int swallowed = 0;
        const auto level = delegate->volume;
        for (int key = 0; key < 30; ++key) {
            const auto press = desk.press(kKeyTypeSoundUp);
            longestKeyWait = std::max(longestKeyWait, press.took);
            swallowed += press.decision == TapDecision::Swallow ? 1 : 0;
            desk.mainQueue->pumpFor(50ms);
        }
        EXPECT_EQ(swallowed, 30);
        EXPECT_EQ(delegate->volume, level) << "the levels wait for the reading the bus holds";
        EXPECT_LE(longestKeyWait, testing::kLongestKeyWait);
        EXPECT_LE(longestGap, testing::kLongestKeyWait) << "the main thread was held";
        EXPECT_EQ(transport->transfers(), 1) << "still in the first transfer";

        // Quitting, with the delegate and its queues let go, ends within the bound.
        const auto quitStart = Clock::now();
        delegate->applicationWillTerminate();
        delegate.reset();
        services = {};
        EXPECT_LE(Clock::now() - quitStart, testing::kQuitBound);
    }
    // The abandoned "ddc" thread finishes on its own once the bus answers.
    transport->release();
    while (Clock::now() - transport->lastTransfer() < 500ms) {
        std::this_thread::sleep_for(100ms);
    }
}

} // namespace
} // namespace varnu
