#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "platform/sim/SimAlerts.h"
#include "platform/sim/SimApplication.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimEventTaps.h"
#include "platform/sim/SimLoginItem.h"
#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimOverlay.h"
#include "platform/sim/SimPause.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimRegistry.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimStatusBar.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWindows.h"
#include "platform/sim/SimWorkspace.h"

#include <cstdint>
#include <memory>
#include <string>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;

// The "ddc" queue as the key handler sees it: it only takes the job. What the job costs on the
// monitor is not the handler's time.
class TakingQueue final : public SerialQueue {
public:
    const std::string& label() const override { return label_; }
    void async(Job job) override {
        benchmark::DoNotOptimize(job);
        ++taken_;
    }
    void sync(Job job) override { job(); }
    bool syncFor(std::chrono::milliseconds, Job job) override {
        job();
        return true;
    }

private:
    std::string label_ = "ddc";
    std::uint64_t taken_ = 0;
};

// One volume-key press on an output routed to a monitor, from the tap's event to the answer:
// routing, the key rules, the stored level, the queued write job and the overlay.
void BM_HandleVolumeKeyOnRoutedOutput(benchmark::State& state) {
    auto scheduler = sim::SimScheduler::create();
    auto audio = std::make_shared<sim::SimAudioHardware>(scheduler);
    auto registry = std::make_shared<sim::SimRegistry>();
    auto overlays = std::make_shared<sim::SimOverlayFactory>(scheduler);
    auto screens = std::make_shared<sim::SimScreens>();
    screens->addScreen(Rect{0, 0, 1920, 1080});
    screens->setMouseLocation(Point{960, 540});

    audio->addDevice(
        sim::SimAudioDevice{"mbp", "MacBook Pro Speakers", {2}, sim::SimVolumeControl::Main});
    audio->addDevice(sim::SimAudioDevice{"hdmi", "HDMI Capture", {2}, sim::SimVolumeControl::None});
    const auto dell = audio->addDevice(
        sim::SimAudioDevice{"dell", "DELL U2723QE", {2}, sim::SimVolumeControl::None});
    audio->setDefaultOutput(dell);
    registry->addExternalDisplay(sim::SimMonitor::create(scheduler), "LG UltraFine");
    registry->addExternalDisplay(sim::SimMonitor::create(scheduler), "DELL U2723QE");

    PlatformServices services;
    services.application = std::make_shared<sim::SimApplication>();
    services.statusBar = std::make_shared<sim::SimStatusBar>();
    services.defaults = std::make_shared<sim::SimUserDefaults>();
    services.languages = std::make_shared<sim::SimPreferredLanguages>();
    services.audio = audio;
    services.registry = registry;
    services.pause = std::make_shared<sim::SimPause>(scheduler);
    services.mainQueue = scheduler;
    services.makeSerialQueue = [](const std::string&) { return std::make_shared<TakingQueue>(); };
    services.overlays = overlays;
    services.screens = screens;
    services.windows = std::make_shared<sim::SimWindowFactory>();
    services.alerts = std::make_shared<sim::SimAlerts>();
    services.workspace = std::make_shared<sim::SimWorkspace>();
    services.eventTaps = std::make_shared<sim::SimEventTaps>();
    services.loginItem = std::make_shared<sim::SimLoginItem>();
    auto delegate = AppDelegate::create(services);
    // The monitors are found once, as by the first press after launch.
    delegate->ddcMonitor();

    const TappedEvent up{kCGEventSystemDefined,
                         SystemDefinedEvent{kNSEventTypeSystemDefined, kNXSubtypeAuxControlButtons,
                                            kKeyTypeSoundUp << 16 | kKeyStateDown << 8, 0}};
    const TappedEvent down{kCGEventSystemDefined,
                           SystemDefinedEvent{kNSEventTypeSystemDefined,
                                              kNXSubtypeAuxControlButtons,
                                              kKeyTypeSoundDown << 16 | kKeyStateDown << 8, 0}};
    bool goingUp = true;
    for (auto _ : state) {
        if (delegate->volume >= 100) {
            goingUp = false;
        } else if (delegate->volume <= 0) {
            goingUp = true;
        }
        benchmark::DoNotOptimize(delegate->handle(goingUp ? up : down));
        // Lets the overlay's replaced hide job go, as the main queue would.
        scheduler->runUntilIdle();
        if (overlays->history().size() > 4096) {
            state.PauseTiming();
            overlays->clearHistory();
            state.ResumeTiming();
        }
    }
}
BENCHMARK(BM_HandleVolumeKeyOnRoutedOutput);

} // namespace
