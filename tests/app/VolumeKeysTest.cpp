#include "app/VolumeKeys.h"

#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimPause.h"

#include <cstdint>
#include <limits>
#include <optional>
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

// The keys and states the tap sends are read back in the tap's round-trip table; here, what
// else may arrive.
TEST(VolumeKeyRecognition, AcceptsOnlySoundUpDownAndMuteAmongAuxiliaryButtons) {
    struct Case {
        std::int64_t type, subtype, data1;
        std::optional<std::int64_t> key;
    };
    const Case cases[] = {
        // Only the low 32 bits carry meaning.
        {14, 8, static_cast<std::int64_t>(0xFFFF'FFFF'0000'0A00ULL | 7 << 16), 7},
        {14, 8, data1(2), std::nullopt},
        {14, 8, data1(0x8000), std::nullopt},
        {13, 8, data1(0), std::nullopt},
        {14, 7, data1(0), std::nullopt},
        {10, 8, data1(7), std::nullopt},
    };
    for (const auto& [type, subtype, data, key] : cases) {
        EXPECT_EQ(volumeKeyCode(SystemDefinedEvent{type, subtype, data, 0}), key) << data;
    }
    EXPECT_TRUE(isKeyDown(static_cast<std::int64_t>(0xFFFF'FFFF'FFFF'0AFFULL)));
    EXPECT_FALSE(isKeyDown(data1(0x0A, 0x00)));
}

TEST(VolumeKeyRules, ShiftAndOptionChooseTheFineStepAndLevelsSaturate) {
    const std::uint64_t shift = 0x20000;
    const std::uint64_t control = 0x40000;
    const std::uint64_t option = 0x80000;
    EXPECT_EQ(chooseStep(shift | option | control, 6), 1);
    EXPECT_EQ(chooseStep(shift, 6), 6);
    EXPECT_EQ(chooseStep(option, 6), 6);
    EXPECT_EQ(chooseStep(control, -4), -4);
    EXPECT_EQ(applyKey(7, 6, {40, false}), (VolumeState{40, true}));
    EXPECT_EQ(applyKey(0, 6, {40, true}), (VolumeState{46, false}));

    // {key, step, level, expected}: a raw reading above 100 drops to 100 going up and by the
    // step going down; a negative step moves the other way, bounded only by the key's own limit.
    const std::int64_t cases[][4] = {
        {0, 6, 98, 100},          {1, 6, 3, 0},        {1, 6, 250, 244},
        {0, 6, 250, 100},         {0, kMax, 50, 100},  {0, kMax, kMax, 100},
        {1, kMax, 50, 0},         {1, kMax, kMin, 0},  {0, -6, 50, 44},
        {0, kMin, 50, kMin + 50}, {0, kMin, -1, kMin}, {0, -1, kMin, kMin},
        {1, -6, 50, 56},          {1, kMin, 50, kMax}, {1, -1, kMax, kMax},
    };
    for (const auto& [key, step, level, expected] : cases) {
        EXPECT_EQ(applyKey(key, step, {level, false}).level, expected)
            << key << " " << step << " " << level;
    }
}

struct Rig {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimMonitor> display = sim::SimMonitor::create(scheduler);
    std::shared_ptr<DDCMonitor> monitor = std::make_shared<DDCMonitor>(
        display->makeService(), "DELL U2723QE", std::make_shared<sim::SimPause>(scheduler));

    void run(bool hide, std::int64_t keyCode, VolumeState state) {
        sendMonitorWrites(*monitor, monitorWrites(hide, keyCode, state.muted, state.level));
    }
};

TEST(MonitorWrites, ClampTheLevelOnTheWireAndIgnoreAFailedOverlayWrite) {
    Rig rig;
    rig.run(false, 1, applyKey(1, 6, {250, false}));
    rig.run(false, 0, {kMin, false});
    EXPECT_EQ(rig.display->appliedSets(), (std::vector<VCPSet>{{0x62, 100},
                                                               {0x62, 100},
                                                               {0x8D, 2},
                                                               {0x8D, 2},
                                                               {0x62, 0},
                                                               {0x62, 0},
                                                               {0x8D, 2},
                                                               {0x8D, 2}}));
    EXPECT_EQ(rig.scheduler->nowMilliseconds(), 80);

    rig.display->clearLog();
    rig.display->refuseWrites(2);
    rig.run(true, 0, {42, false});
    EXPECT_EQ(rig.display->appliedSets(),
              (std::vector<VCPSet>{{0x62, 42}, {0x62, 42}, {0x8D, 2}, {0x8D, 2}}));

    // A level write already counts when only its second send gets through.
    rig.display->clearLog();
    rig.display->refuseWrites(1);
    rig.run(false, 1, {44, false});
    EXPECT_EQ(rig.display->appliedSets(), (std::vector<VCPSet>{{0x62, 44}, {0x8D, 2}, {0x8D, 2}}));
}

} // namespace
} // namespace varnu
