#include "tools/varnu-sim/JumpCheck.h"

#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

// One monitor playing 50, its bus shown to a check of its own, and Varnu's side of it: keys sent
// to it for the "dell" output, whose levels are then stored, and DDC/CI through the real
// transactions.
struct Watched {
    std::shared_ptr<SimMonitor> monitor = SimMonitor::create();
    JumpCheck::Target target{monitor, 1, false};
    JumpCheck check;
    DDCMonitor bus{monitor->makeService(), "DELL U2723QE", std::make_shared<NoPause>()};

    Watched() {
        monitor->setObserver(
            [this](const I2CTransaction& transfer) { check.transferred(*monitor, transfer); });
    }
    // The answer tells whether the key made a jump.
    std::optional<std::string> key(std::int64_t level, std::int64_t now = 0,
                                   std::int64_t keyCode = kKeyTypeSoundUp) {
        check.sent(target, "dell", keyCode, 6, level, now);
        check.stored("dell", level);
        return check.takeJump();
    }
    void turn(std::uint16_t level) {
        monitor->setControl(kVCPAudioSpeakerVolume, {level, 255});
        check.turned(*monitor, true);
    }
};

TEST(JumpCheck, FindsALevelFarFromWhatTheMonitorPlaysUnlessVarnuCouldNotKnowBetter) {
    {
        Watched desk;
        EXPECT_FALSE(desk.key(56));
        // A level still on its way counts as played, until it has reached the bus.
        EXPECT_FALSE(desk.key(62));
        desk.bus.write(kVCPAudioSpeakerVolume, 56);
        EXPECT_FALSE(desk.key(68));
        desk.bus.write(kVCPAudioSpeakerVolume, 68);
        // A mute sends no level.
        EXPECT_FALSE(desk.key(5, 0, kKeyTypeMute));
        EXPECT_EQ(desk.key(80),
                  "a jump: key up sent 80 to monitor #1, which played 68 (the step is 6)");
        EXPECT_FALSE(desk.key(90)) << "one jump is told once";
    }
    {
        // The monitor's own buttons, used while Varnu still talked to it, or after a quiet period.
        Watched desk;
        desk.bus.write(kVCPAudioSpeakerVolume, 56);
        desk.turn(10);
        EXPECT_FALSE(desk.key(62, kQuietPeriod.count() - 1));
        Watched quiet;
        quiet.bus.write(kVCPAudioSpeakerVolume, 56);
        quiet.turn(10);
        EXPECT_TRUE(quiet.key(62, kQuietPeriod.count()));
        // Once read, the monitor's level is known again.
        Watched read;
        read.bus.write(kVCPAudioSpeakerVolume, 56);
        read.turn(10);
        read.bus.read(kVCPAudioSpeakerVolume);
        EXPECT_TRUE(read.key(62, 1));
    }
    {
        // A monitor that cannot be read: the level Varnu knows for the output stands in.
        Watched desk;
        desk.monitor->refuseReads(SimMonitor::kAlways);
        desk.bus.read(kVCPAudioSpeakerVolume);
        desk.check.put("dell", std::int64_t{70}, false);
        EXPECT_FALSE(desk.key(76));
        EXPECT_TRUE(desk.key(90));
        Watched edited;
        edited.monitor->refuseReads(SimMonitor::kAlways);
        edited.bus.read(kVCPAudioSpeakerVolume);
        edited.check.put("dell", std::int64_t{70}, true);
        EXPECT_FALSE(edited.key(90));
    }
    {
        // What cannot reach the monitor cannot jump; a monitor above 100 is sent 100 at most.
        Watched unplugged;
        unplugged.monitor->disconnect();
        EXPECT_FALSE(unplugged.key(100));
        Watched refusing;
        refusing.target.refusesWrites = true;
        EXPECT_FALSE(refusing.key(100));
        Watched large;
        large.monitor->setControl(kVCPAudioSpeakerVolume, {250, 255});
        EXPECT_FALSE(large.key(100));
        EXPECT_TRUE(large.key(80));
    }
}

} // namespace
} // namespace varnu::sim
