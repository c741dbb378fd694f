#include "hud/HUD.h"
#include "platform/sim/SimOverlay.h"
#include "platform/sim/SimScheduler.h"

#include <cstdint>
#include <memory>

#include <benchmark/benchmark.h>

namespace {

// One auto-repeated key press: show() plus the main-queue turn that follows it.
void BM_HUDShowOnSimulatedPanel(benchmark::State& state) {
    auto scheduler = varnu::sim::SimScheduler::create();
    auto overlays = std::make_shared<varnu::sim::SimOverlayFactory>(scheduler);
    auto screens = std::make_shared<varnu::sim::SimScreens>();
    screens->addScreen(varnu::Rect{0, 0, 1920, 1080});
    screens->addScreen(varnu::Rect{1920, 0, 2560, 1440});
    screens->setMouseLocation(varnu::Point{2500, 700});
    auto hud = varnu::HUD::create(overlays, screens, scheduler);

    std::int64_t volume = 0;
    for (auto _ : state) {
        hud->show(volume, false);
        volume = (volume + 6) % 101;
        scheduler->runUntilIdle();
        // The simulated panel keeps a record of everything; keep it from growing without end.
        if (overlays->history().size() > 4096) {
            state.PauseTiming();
            overlays->clearHistory();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_HUDShowOnSimulatedPanel);

} // namespace
