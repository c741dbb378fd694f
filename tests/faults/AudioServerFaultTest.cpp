#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "platform/linux/audio/PulseAudioHardware.h"
#include "tests/faults/RealTimeDesk.h"
#include "tests/platform/linux/audio/PulseDaemon.h"

#include <gtest/gtest.h>

namespace varnu {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using linux_backend::PulseAudioHardware;
using linux_backend::testing::PulseDaemon;
using linux_backend::testing::PulseServer;
using testing::RealTimeDesk;

constexpr auto kWait = 10s;

// A null sink always has a volume of its own. This one plays a monitor's speakers, which have
// none: the one property is hidden, everything else is the server's.
class DisplayAudio final : public AudioHardware {
public:
    explicit DisplayAudio(std::shared_ptr<PulseAudioHardware> server)
        : server_(std::move(server)) {}

    OSStatus getPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::uint32_t& dataSize) override {
        return isVolume(address) ? kAudioHardwareUnknownPropertyError
                                 : server_->getPropertyDataSize(object, address, dataSize);
    }
    OSStatus getPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             AudioPropertyData& data) override {
        return isVolume(address) ? kAudioHardwareUnknownPropertyError
                                 : server_->getPropertyData(object, address, data);
    }
    OSStatus setPropertyData(AudioObjectID object, const AudioObjectPropertyAddress& address,
                             const AudioPropertyData& data) override {
        return isVolume(address) ? kAudioHardwareUnknownPropertyError
                                 : server_->setPropertyData(object, address, data);
    }
    bool hasProperty(AudioObjectID object, const AudioObjectPropertyAddress& address) override {
        return !isVolume(address) && server_->hasProperty(object, address);
    }
    OSStatus isPropertySettable(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                bool& isSettable) override {
        return isVolume(address) ? kAudioHardwareUnknownPropertyError
                                 : server_->isPropertySettable(object, address, isSettable);
    }
    OSStatus addPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress& address,
                                 std::function<void()> listener) override {
        return server_->addPropertyListener(object, address, std::move(listener));
    }

private:
    static bool isVolume(const AudioObjectPropertyAddress& address) {
        return address.selector == kAudioDevicePropertyVolumeScalar;
    }
    std::shared_ptr<PulseAudioHardware> server_;
};

class AudioServerFault : public ::testing::TestWithParam<PulseServer> {};

TEST_P(AudioServerFault, KilledWhileAKeyIsHandledVarnuKeepsRunningAndQuitsInTime) {
    if (!PulseDaemon::available(GetParam())) {
        GTEST_SKIP() << "install " << linux_backend::testing::serverName(GetParam())
                     << " (with pactl) to run this test";
    }
    PulseDaemon daemon{GetParam()};
    const linux_backend::testing::NullSink screen{"varnu_screen", "DELL U2723QE"};
    ASSERT_TRUE(daemon.start({screen})) << daemon.log();

    RealTimeDesk desk;
    auto server = std::make_shared<PulseAudioHardware>(
        desk.mainQueue, linux_backend::PulseAudioOptions{daemon.server(), 200ms});
    const auto monitor = sim::SimMonitor::create([start = Clock::now()] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    });
    monitor->setControl(kVCPAudioSpeakerVolume, {30, 100});
    desk.registry->addExternalDisplay(monitor, "DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("varnu_screen"));
    auto services = desk.services();
    services.audio = std::make_shared<DisplayAudio>(server);

    auto delegate = startApplication(services);
    desk.application->run();
    // Presses the key every 50 ms until it is decided so; none may keep the keyboard waiting.
    const auto keyDecides = [&](TapDecision wanted) {
        for (const auto deadline = Clock::now() + kWait; Clock::now() < deadline;) {
            const auto press = desk.press(kKeyTypeSoundUp);
            EXPECT_LE(press.took, testing::kLongestKeyWait);
            if (press.decision == wanted) {
                return true;
            }
            desk.mainQueue->pumpFor(50ms);
        }
        return false;
    };
    ASSERT_TRUE(keyDecides(TapDecision::Swallow)) << "the key reaches the monitor";

    // The server dies while the monitor is still being written to.
    const auto press = desk.press(kKeyTypeSoundUp);
    EXPECT_EQ(press.decision, TapDecision::Swallow);
    daemon.stop(SIGKILL);
    // Without a server there is no output to speak for, so keys go back to the system.
    EXPECT_TRUE(keyDecides(TapDecision::Pass));
    ASSERT_TRUE(
        desk.mainQueue->pumpUntil([&] { return monitor->appliedSets().size() >= 3; }, kWait));

    // A new server, and Varnu is back on its output.
    ASSERT_TRUE(daemon.start({screen})) << daemon.log();
    EXPECT_TRUE(keyDecides(TapDecision::Swallow));
    EXPECT_TRUE(desk.mainQueue->pumpUntil(
        [&] { return monitor->control(kVCPAudioSpeakerVolume)->current == delegate->volume; },
        kWait));

    // The server dies again, and Varnu quits right after.
    desk.press(kKeyTypeSoundUp);
    daemon.stop(SIGKILL);
    const auto quitStart = Clock::now();
    delegate->applicationWillTerminate();
    delegate.reset();
    services = {};
    server.reset();
    EXPECT_LE(Clock::now() - quitStart, testing::kQuitBound);
}

INSTANTIATE_TEST_SUITE_P(Servers, AudioServerFault,
                         ::testing::Values(PulseServer::PulseAudio, PulseServer::PipeWire),
                         [](const auto& info) {
                             return linux_backend::testing::serverName(info.param);
                         });

} // namespace
} // namespace varnu
