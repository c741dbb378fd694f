#include "hud/HUD.h"

#include "platform/sim/SimOverlay.h"
#include "platform/sim/SimScheduler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::OverlayRecord;
using std::chrono::milliseconds;

struct HUDWorld {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimOverlayFactory> overlays =
        std::make_shared<sim::SimOverlayFactory>(scheduler);
    std::shared_ptr<sim::SimScreens> screens = std::make_shared<sim::SimScreens>();
    std::shared_ptr<HUD> hud;
    std::vector<std::string> log;

    HUDWorld() {
        screens->addScreen(Rect{0, 0, 1920, 1080});
        screens->setMouseLocation(Point{960, 540});
        hud = HUD::create(overlays, screens, scheduler);
        overlays->setObserver([this](const OverlayRecord& record) {
            const auto at = std::to_string(scheduler->nowMilliseconds()) + " ";
            if (record.kind == OverlayRecord::Kind::AnimationStarted) {
                log.push_back(at + "fade to " + std::to_string(static_cast<int>(record.alpha)) +
                              " over " + std::to_string(record.duration.count()));
            } else if (record.kind == OverlayRecord::Kind::OrderedOut) {
                log.push_back(at + "hidden");
            }
        });
    }

    sim::SimOverlayPanel& panel() { return *overlays->panels().at(0); }
};

TEST(HUD, OneHiddenPanelWhoseSymbolAndFillFollowTheLevelAndMuteState) {
    HUDWorld world;
    ASSERT_EQ(world.overlays->panels().size(), 1u);
    EXPECT_FALSE(world.panel().isVisible());

    struct Case {
        std::int64_t volume;
        bool muted;
        const char* symbol;
        double fill;
    };
    const Case cases[] = {
        {0, false, "speaker.slash.fill", 0},       {80, true, "speaker.slash.fill", 0},
        {33, false, "speaker.wave.1.fill", 49.5},  {-5, false, "speaker.wave.1.fill", -7.5},
        {34, false, "speaker.wave.2.fill", 51},    {66, false, "speaker.wave.2.fill", 99},
        {67, false, "speaker.wave.3.fill", 100.5}, {250, false, "speaker.wave.3.fill", 375},
    };
    for (const auto& c : cases) {
        world.hud->show(c.volume, c.muted);
        SCOPED_TRACE(std::to_string(c.volume) + (c.muted ? " muted" : ""));
        EXPECT_EQ(world.panel().iconImage(), (SymbolImage{c.symbol, ""}));
        EXPECT_EQ(world.panel().fillFrame(), (Rect{0, 0, c.fill, 8}));
        EXPECT_TRUE(world.panel().isVisible());
    }
}

TEST(HUD, CentresOnTheScreenUnderThePointerElseTheMainScreenElseStays) {
    HUDWorld world;
    const Rect left{0, 0, 1920, 1080};
    const Rect right{1920, -200, 2560, 1440};
    world.screens->setScreens({left, right});
    world.screens->setMainScreen(left);
    world.screens->setMouseLocation(Point{2500, 700});
    const int readsBefore = world.screens->mouseReads();
    world.hud->show(50, false);
    EXPECT_EQ(world.panel().origin(), (Point{3100, -60}));
    // The pointer is read again for every screen looked at.
    EXPECT_EQ(world.screens->mouseReads() - readsBefore, 2);

    struct Case {
        Point mouse;
        std::optional<Rect> main;
        Point origin;
    };
    for (const auto& [mouse, main, origin] : {
             Case{{1920, 500}, left, {3100, -60}}, // the line between belongs to the right one
             Case{{100, 500}, right, {860, 140}},
             Case{{-4000, 5000}, right, {3100, -60}},
             Case{{-4000, 5000}, std::nullopt, {3100, -60}},
         }) {
        world.screens->setMainScreen(main);
        world.screens->setMouseLocation(mouse);
        world.hud->show(main ? 50 : 40, false);
        EXPECT_EQ(world.panel().origin(), origin) << mouse.x;
    }
}

TEST(HUD, StaysWhileShownAgainAndFadesAfterTheLastShowingEvenDuringAFade) {
    HUDWorld world;
    for (int call = 0; call < 6; ++call) {
        world.hud->show(50 + call, false);
        world.scheduler->advance(milliseconds(500));
    }
    world.hud->show(56, false);
    world.scheduler->advance(milliseconds(1699));
    EXPECT_TRUE(world.panel().isVisible());
    EXPECT_EQ(world.panel().alpha(), 1.0);
    world.scheduler->advance(milliseconds(1));
    EXPECT_EQ(world.log, (std::vector<std::string>{"4400 fade to 0 over 300", "4700 hidden"}));
    EXPECT_FALSE(world.panel().isVisible());
    EXPECT_EQ(world.panel().alpha(), 0.0);

    // Shown again while fading: the fade's end must not hide the new showing.
    world.log.clear();
    world.hud->show(50, false);
    world.scheduler->advance(milliseconds(1500));
    world.hud->show(56, false);
    world.scheduler->advance(milliseconds(300));
    EXPECT_TRUE(world.panel().isVisible());
    EXPECT_EQ(world.panel().alpha(), 1.0);
    world.scheduler->advance(milliseconds(1500));
    EXPECT_FALSE(world.panel().isVisible());
    EXPECT_EQ(world.log, (std::vector<std::string>{"6100 fade to 0 over 300",
                                                   "7600 fade to 0 over 300", "7900 hidden"}));
    world.scheduler->advance(milliseconds(10000));
    EXPECT_EQ(world.log.size(), 3u);
}

TEST(HUD, GoneBeforeItsDelayedWorkRunsNothingHappens) {
    HUDWorld world;
    world.hud->show(50, false);
    world.hud.reset();
    EXPECT_TRUE(world.panel().isReleased());
    world.scheduler->advance(milliseconds(3000));
    EXPECT_TRUE(world.log.empty());

    // Gone in the middle of the fade: the completion finds nothing to hide.
    world.hud = HUD::create(world.overlays, world.screens, world.scheduler);
    world.hud->show(50, false);
    world.scheduler->advance(milliseconds(1500));
    world.hud.reset();
    world.scheduler->advance(milliseconds(1000));
    EXPECT_EQ(world.overlays->panels().at(1)->timesOrderedOut(), 0);
    EXPECT_FALSE(world.scheduler->hasPendingWork());
}

} // namespace
} // namespace varnu
