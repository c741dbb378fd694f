#include "app/VolumeKeys.h"

#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimPause.h"

#include <cstdint>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::VCPSet;

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

std::int64_t data1(std::int64_t keyCode, std::int64_t state = 0x0A, std::int64_t flags = 0) {
    return keyCode << 16 | state << 8 | flags;
}

SystemDefinedEvent event(std::int64_t data, std::int64_t type = 14, std::int64_t subtype = 8) {
    return SystemDefinedEvent{type, subtype, data, 0};
}

TEST(VolumeKeyRecognition, AcceptsOnlySoundUpDownAndMuteAmongAuxiliaryButtons) {
    EXPECT_EQ(volumeKeyCode(event(data1(0))), 0);
    EXPECT_EQ(volumeKeyCode(event(data1(1))), 1);
    EXPECT_EQ(volumeKeyCode(event(data1(7))), 7);
    EXPECT_EQ(volumeKeyCode(event(data1(1, 0x0B, 1))), 1);
    // Only the low 32 bits carry meaning.
    EXPECT_EQ(volumeKeyCode(event(static_cast<std::int64_t>(0xFFFF'FFFF'0000'0A00ULL | 7 << 16))),
              7);
    EXPECT_FALSE(volumeKeyCode(event(data1(2))));
    EXPECT_FALSE(volumeKeyCode(event(data1(0x8000))));
    EXPECT_FALSE(volumeKeyCode(event(data1(0), 13)));
    EXPECT_FALSE(volumeKeyCode(event(data1(0), 14, 7)));
    EXPECT_FALSE(volumeKeyCode(event(data1(7), 10, 8)));

    EXPECT_TRUE(isKeyDown(data1(0, 0x0A)));
    EXPECT_TRUE(isKeyDown(data1(0, 0x0A, 0x01))); // auto-repeat
    EXPECT_TRUE(isKeyDown(static_cast<std::int64_t>(0xFFFF'FFFF'FFFF'0AFFULL)));
    EXPECT_FALSE(isKeyDown(data1(0, 0x0B)));
    EXPECT_FALSE(isKeyDown(data1(0x0A, 0x00)));
}

TEST(VolumeKeyRules, ShiftAndOptionTogetherChooseTheFineStep) {
    const std::uint64_t shift = 0x20000;
    const std::uint64_t control = 0x40000;
    const std::uint64_t option = 0x80000;
    EXPECT_EQ(chooseStep(shift | option, 6), 1);
    EXPECT_EQ(chooseStep(shift | option | control, 6), 1);
    EXPECT_EQ(chooseStep(shift, 6), 6);
    EXPECT_EQ(chooseStep(option, 6), 6);
    EXPECT_EQ(chooseStep(0, 0), 0);
    EXPECT_EQ(chooseStep(control, -4), -4);

    const auto up = [](std::int64_t level, std::int64_t step) {
        return applyKey(0, step, {level, true});
    };
    const auto down = [](std::int64_t level, std::int64_t step) {
        return applyKey(1, step, {level, true});
    };
    EXPECT_EQ(up(98, 6), (VolumeState{100, false}));
    EXPECT_EQ(up(40, chooseStep(shift | option, 6)), (VolumeState{41, false}));
    EXPECT_EQ(down(3, 6), (VolumeState{0, false}));
    EXPECT_EQ(down(50, 6), (VolumeState{44, false}));
    // A raw reading above 100 drops to 100 going up and by the step going down.
    EXPECT_EQ(up(250, 6), (VolumeState{100, false}));
    EXPECT_EQ(down(250, 6), (VolumeState{244, false}));
    EXPECT_EQ(applyKey(7, 6, {40, false}), (VolumeState{40, true}));
    EXPECT_EQ(applyKey(7, 6, {40, true}), (VolumeState{40, false}));
}

TEST(VolumeKeyRules, AnyStepTheSettingCanHoldSaturatesInsteadOfOverflowing) {
    const auto up = [](std::int64_t level, std::int64_t step) {
        return applyKey(0, step, {level, false}).level;
    };
    const auto down = [](std::int64_t level, std::int64_t step) {
        return applyKey(1, step, {level, false}).level;
    };
    EXPECT_EQ(up(50, kMax), 100);
    EXPECT_EQ(up(kMax, kMax), 100);
    EXPECT_EQ(down(50, kMax), 0);
    EXPECT_EQ(down(kMin, kMax), 0);
    // A negative step moves the level the other way, bounded only by the key's own limit.
    EXPECT_EQ(up(50, -6), 44);
    EXPECT_EQ(up(50, kMin), kMin + 50);
    EXPECT_EQ(up(-1, kMin), kMin);
    EXPECT_EQ(up(kMin, -1), kMin);
    EXPECT_EQ(down(50, -6), 56);
    EXPECT_EQ(down(50, kMin), kMax);
    EXPECT_EQ(down(kMax, -1), kMax);
}

struct Rig {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimMonitor> display = sim::SimMonitor::create(scheduler);
    std::shared_ptr<DDCMonitor> monitor = std::make_shared<DDCMonitor>(
        display->makeService(), "DELL U2723QE", std::make_shared<sim::SimPause>(scheduler));

    // Each write goes out twice; the display carries out both.
    std::vector<VCPSet> writes() const {
        std::vector<VCPSet> once;
        const auto sets = display->appliedSets();
        for (std::size_t index = 0; index < sets.size(); index += 2) {
            EXPECT_LT(index + 1, sets.size());
            if (index + 1 < sets.size()) {
                EXPECT_EQ(sets[index], sets[index + 1]);
            }
            once.push_back(sets[index]);
        }
        return once;
    }
    void run(bool hide, std::int64_t keyCode, VolumeState state) {
        MonitorWriteJob{hide, monitor, keyCode, state.muted, state.level}.run();
    }
};

TEST(MonitorWriteJob, WritesTheLevelThenUnmutesOrOnlyTheMuteState) {
    Rig rig;
    rig.run(false, 0, applyKey(0, 6, {98, true}));
    EXPECT_EQ(rig.writes(), (std::vector<VCPSet>{{0x62, 100}, {0x8D, 2}}));
    EXPECT_EQ(rig.scheduler->nowMilliseconds(), 40);

    rig.display->clearLog();
    auto state = applyKey(7, 6, {60, false});
    rig.run(false, 7, state);
    state = applyKey(7, 6, state);
    rig.run(false, 7, state);
    EXPECT_EQ(rig.writes(), (std::vector<VCPSet>{{0x8D, 1}, {0x8D, 2}}));

    // The level on the wire is clamped, whatever the state holds.
    rig.display->clearLog();
    rig.run(false, 1, applyKey(1, 6, {250, false}));
    rig.run(false, 0, {kMin, false});
    EXPECT_EQ(rig.writes(), (std::vector<VCPSet>{{0x62, 100}, {0x8D, 2}, {0x62, 0}, {0x8D, 2}}));
}

TEST(MonitorWriteJob, RefusedLevelWriteSuppressesTheUnmute) {
    Rig rig;
    rig.display->refuseWrites(2);
    rig.run(false, 0, {50, false});
    EXPECT_TRUE(rig.display->appliedSets().empty());
    EXPECT_EQ(rig.display->transactions().size(), 2u);

    // A level write already counts when only its second send gets through.
    rig.display->refuseWrites(1);
    rig.run(false, 1, {44, false});
    EXPECT_EQ(rig.display->appliedSets(), (std::vector<VCPSet>{{0x62, 44}, {0x8D, 2}, {0x8D, 2}}));
}

TEST(MonitorWriteJob, HidesTheMonitorsOwnOverlayFirstAndIgnoresWhetherThatWorked) {
    Rig rig;
    rig.run(true, 7, {30, true});
    rig.run(true, 0, {36, false});
    EXPECT_EQ(rig.writes(),
              (std::vector<VCPSet>{{0xCA, 1}, {0x8D, 1}, {0xCA, 1}, {0x62, 36}, {0x8D, 2}}));
    EXPECT_EQ(rig.scheduler->nowMilliseconds(), 100);

    rig.display->clearLog();
    rig.display->refuseWrites(2);
    rig.run(true, 0, {42, false});
    EXPECT_EQ(rig.writes(), (std::vector<VCPSet>{{0x62, 42}, {0x8D, 2}}));

    MonitorWriteJob{true, nullptr, 0, false, 50}.run();
}

} // namespace
} // namespace varnu
