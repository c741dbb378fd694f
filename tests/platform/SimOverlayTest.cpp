#include "platform/sim/SimOverlay.h"

#include "platform/sim/SimScheduler.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

using std::chrono::milliseconds;
using Log = std::vector<std::string>;

TEST(SimOverlay, AnimationsJumpToTheirTargetOnCompletionUnlessCutShort) {
    auto scheduler = SimScheduler::create();
    SimOverlayFactory factory{scheduler};
    auto handle = factory.makePanel(OverlayDescription{});
    const SimOverlayPanel& panel = *factory.panels().front();
    Log log;
    const auto stamp = [&](const std::string& what) {
        return [&, what] {
            log.push_back(std::to_string(scheduler->nowMilliseconds()) + " " + what +
                          " alpha=" + std::to_string(static_cast<int>(panel.alpha() * 10)));
        };
    };
    handle->orderFrontRegardless();
    handle->animateAlphaValue(0.0, milliseconds(300), stamp("first"));
    scheduler->advance(milliseconds(299));
    EXPECT_EQ(panel.alpha(), 1.0);
    scheduler->advance(milliseconds(1));
    // Fading does not take the panel off the screen; only orderOut does.
    EXPECT_TRUE(panel.isVisible());

    // A newer animation cuts the running one short: the older completion runs at its own time
    // but leaves the alpha alone, the newer one sets its target. (The HUD's tests cover a
    // setAlphaValue cutting a fade short and a panel let go of mid-fade.)
    handle->setAlphaValue(0.5);
    handle->animateAlphaValue(0.0, milliseconds(300), stamp("older"));
    scheduler->advance(milliseconds(100));
    handle->animateAlphaValue(0.8, milliseconds(300), stamp("newer"));
    scheduler->advance(milliseconds(400));
    EXPECT_EQ(log, (Log{"300 first alpha=0", "600 older alpha=5", "700 newer alpha=8"}));
}

} // namespace
} // namespace varnu::sim
