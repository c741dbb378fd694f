#include "platform/sim/SimOverlay.h"

#include "platform/sim/SimScheduler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

using std::chrono::milliseconds;

struct OverlayWorld {
    std::shared_ptr<SimScheduler> scheduler = SimScheduler::create();
    SimOverlayFactory factory{scheduler};
    std::unique_ptr<OverlayPanel> handle = factory.makePanel(OverlayDescription{});
    SimOverlayPanel& panel = *factory.panels().front();
    std::vector<std::string> log;

    std::function<void()> stamp(const std::string& what) {
        return [this, what] {
            log.push_back(std::to_string(scheduler->nowMilliseconds()) + " " + what +
                          " alpha=" + std::to_string(static_cast<int>(panel.alpha() * 10)));
        };
    }
};

TEST(SimOverlay, AnimationReachesItsTargetWhenItCompletes) {
    OverlayWorld world;
    EXPECT_FALSE(world.panel.isVisible());
    world.handle->orderFrontRegardless();
    world.handle->animateAlphaValue(0.0, milliseconds(300), world.stamp("done"));
    EXPECT_TRUE(world.panel.isAnimating());

    world.scheduler->advance(milliseconds(299));
    EXPECT_EQ(world.panel.alpha(), 1.0);
    EXPECT_TRUE(world.log.empty());
    world.scheduler->advance(milliseconds(1));
    EXPECT_EQ(world.log, std::vector<std::string>{"300 done alpha=0"});
    EXPECT_FALSE(world.panel.isAnimating());
    // Fading does not take the panel off the screen; only orderOut does.
    EXPECT_TRUE(world.panel.isVisible());
}

TEST(SimOverlay, SettingTheAlphaStopsTheAnimationButItsCompletionStillRuns) {
    OverlayWorld world;
    world.handle->animateAlphaValue(0.0, milliseconds(300), world.stamp("first"));
    world.scheduler->advance(milliseconds(100));
    world.handle->setAlphaValue(1.0);
    EXPECT_FALSE(world.panel.isAnimating());
    world.scheduler->advance(milliseconds(300));
    EXPECT_EQ(world.log, std::vector<std::string>{"300 first alpha=10"});

    // A newer animation cuts the running one short: the older completion runs at its own time
    // without touching the alpha, the newer one sets its target.
    world.handle->setAlphaValue(0.5);
    world.handle->animateAlphaValue(0.0, milliseconds(300), world.stamp("older"));
    world.scheduler->advance(milliseconds(100));
    world.handle->animateAlphaValue(0.8, milliseconds(300), world.stamp("newer"));
    world.scheduler->advance(milliseconds(400));
    EXPECT_EQ(world.log, (std::vector<std::string>{"300 first alpha=10", "700 older alpha=5",
                                                   "800 newer alpha=8"}));
}

TEST(SimOverlay, ReleasedPanelStaysInspectableAndItsPendingCompletionStillRuns) {
    OverlayWorld world;
    world.handle->setIconImage(SymbolImage{"speaker.wave.2.fill", ""});
    world.handle->setFrameOrigin(Point{10, 20});
    world.handle->animateAlphaValue(0.0, milliseconds(300), world.stamp("done"));
    world.handle.reset();
    EXPECT_TRUE(world.panel.isReleased());
    world.scheduler->advance(milliseconds(300));
    EXPECT_EQ(world.log, std::vector<std::string>{"300 done alpha=0"});
    EXPECT_EQ(world.panel.iconImage()->symbolName, "speaker.wave.2.fill");
    EXPECT_EQ(world.panel.origin(), (Point{10, 20}));
    EXPECT_EQ(world.factory.history().back().kind, OverlayRecord::Kind::AnimationCompleted);
}

} // namespace
} // namespace varnu::sim
