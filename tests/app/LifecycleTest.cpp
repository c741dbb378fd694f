#include "app/AppDelegate.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <chrono>
#include <functional>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

TEST(AppDelegate, ConstructionOnlyReadsThePreferencesAndLaunchingDoesTheRest) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    desk.addMonitor("DELL U2723QE");
    desk.defaults->put("step", std::int64_t{10});

    auto delegate = startApplication(desk.services());
    EXPECT_EQ(delegate->settings->step(), 10);
    EXPECT_FALSE(desk.statusBar->items()[0]->menu());
    EXPECT_TRUE(desk.eventTaps->history().empty());
    EXPECT_EQ(desk.registry->iteratorsCreated(), 0u);
    EXPECT_FALSE(desk.scheduler->hasPendingWork());

    // A later launch shows the keys active at once, before the timer's first tick.
    SimDesk later;
    later.addOutput("dell", "DELL U2723QE");
    later.defaults->put("selectedDeviceUID", std::string("dell"));
    auto launched = later.launch();
    ASSERT_TRUE(launched->tap);
    EXPECT_TRUE(launched->settings->accessibilityOK());
}

// The main queue, telling the test when a repeating timer is scheduled on it.
class TimerWatchingQueue final : public MainQueue {
public:
    TimerWatchingQueue(std::shared_ptr<MainQueue> queue, std::function<void()> scheduled)
        : queue_(std::move(queue))
        , scheduled_(std::move(scheduled)) {}
    void async(Job job) override { queue_->async(std::move(job)); }
    std::shared_ptr<Cancellable> asyncAfter(std::chrono::milliseconds delay, Job job) override {
        return queue_->asyncAfter(delay, std::move(job));
    }
    std::shared_ptr<Cancellable> scheduleRepeatingTimer(std::chrono::milliseconds interval,
                                                        Job job) override {
        scheduled_();
        return queue_->scheduleRepeatingTimer(interval, std::move(job));
    }

private:
    std::shared_ptr<MainQueue> queue_;
    std::function<void()> scheduled_;
};

TEST(Launch, FirstRunOpensTheSettingsOnceTheTimerRuns) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    std::vector<std::string> steps;
    desk.windows->setObserver([&](const sim::WindowRecord& record) {
        if (record.kind == sim::WindowRecord::Kind::MadeKeyAndOrderedFront) {
            steps.push_back("settings in front");
        }
    });
    auto services = desk.services();
    services.mainQueue = std::make_shared<TimerWatchingQueue>(
        desk.scheduler, [&] { steps.push_back("timer scheduled"); });

    auto delegate = startApplication(services);
    desk.application->run();
    EXPECT_EQ(steps, (std::vector<std::string>{"timer scheduled", "settings in front"}));
}

TEST(MonitorCache, IsForgottenWhenTheDeviceListChangesAndOnlyThen) {
    SimDesk desk;
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    auto speakers = desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addMonitor("DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    auto delegate = desk.launch();
    ASSERT_EQ(delegate->monitors.size(), 1u);
    const auto first = delegate->monitors[0];

    // A change of the default output brings the remembered one back and keeps the list.
    desk.audio->setDefaultOutput(speakers);
    desk.scheduler->runUntilIdle();
    EXPECT_EQ(desk.audio->defaultOutput(), dell);
    ASSERT_EQ(delegate->monitors.size(), 1u);
    EXPECT_EQ(delegate->monitors[0], first);

    desk.addMonitor("LG UltraFine");
    desk.addOutput("lg", "LG UltraFine");
    desk.scheduler->runUntilIdle();
    delegate->ddcMonitor();
    ASSERT_EQ(delegate->monitors.size(), 2u);
    EXPECT_NE(delegate->monitors[0], first);
}

// Displays whose list the test changes, telling the core as a backend's worker would.
struct ChangingDisplays final : DisplayEnumerator {
    using Listed = std::vector<std::pair<std::string, std::shared_ptr<sim::SimMonitor>>>;
    Listed listed;
    std::function<void()> changed;
    std::vector<ExternalDisplay> externalDisplays() override {
        std::vector<ExternalDisplay> displays;
        for (const auto& [identity, monitor] : listed) {
            displays.push_back(ExternalDisplay{"DELL U2723QE", monitor->makeService(), identity});
        }
        return displays;
    }
    void setChangeHandler(std::function<void()> handler) override { changed = std::move(handler); }
};

TEST(DisplayList, AMonitorFoundAfterLaunchIsSetUpAsAtLaunchAndGetsItsOverlayBackOnceAtQuit) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    auto displays = std::make_shared<ChangingDisplays>();
    auto services = desk.services();
    services.registry = nullptr;
    services.displays = displays;
    auto delegate = startApplication(services);
    desk.application->run();
    desk.scheduler->runUntilIdle();
    EXPECT_EQ(delegate->settings->controlInfo(), "This device cannot be controlled.");
    ASSERT_TRUE(displays->changed);

    // Found only after launch, then swapped for another on the same output, then unplugged and
    // plugged back.
    const auto first = sim::SimMonitor::create(desk.scheduler);
    const auto second = sim::SimMonitor::create(desk.scheduler);
    first->setControl(kVCPAudioSpeakerVolume, {80, 100});
    second->setControl(kVCPAudioSpeakerVolume, {30, 100});
    const auto change = [&](ChangingDisplays::Listed listed) {
        displays->listed = std::move(listed);
        desk.scheduler->async(displays->changed);
        desk.scheduler->advance(std::chrono::seconds(1));
    };
    const auto press = [&] {
        const bool swallowed = delegate->handle(SimDesk::key(kKeyTypeSoundUp));
        desk.scheduler->advance(std::chrono::seconds(1));
        return swallowed;
    };
    const auto overlayShown = [](const sim::SimMonitor& monitor) {
        return monitor.control(kVCPOSD)->current == kOSDShown;
    };
    change({{"DP-1 first", first}});
    EXPECT_FALSE(overlayShown(*first));
    EXPECT_EQ(delegate->settings->osdInfo(), "The monitor no longer shows its own volume overlay.");
    ASSERT_TRUE(press());
    EXPECT_EQ(first->control(kVCPAudioSpeakerVolume)->current, 86);

    change({{"DP-1 second", second}});
    EXPECT_FALSE(overlayShown(*second));
    ASSERT_TRUE(press());
    EXPECT_EQ(second->control(kVCPAudioSpeakerVolume)->current, 36);

    change({});
    EXPECT_EQ(delegate->settings->controlInfo(), "This device cannot be controlled.");
    EXPECT_EQ(delegate->settings->osdInfo(), "");
    EXPECT_FALSE(press());

    // Plugged back, the list rebuilt twice with a press after each: one restore, to the monitor
    // that is there; the first, gone, stays recorded for the next start.
    change({{"DP-1 second", second}});
    ASSERT_TRUE(press());
    change({{"DP-1 second", second}});
    ASSERT_TRUE(press());
    second->clearLog();
    delegate->applicationWillTerminate();
    EXPECT_EQ(second->appliedSets(), (std::vector<sim::VCPSet>(2, {kVCPOSD, kOSDShown})));
    EXPECT_EQ(desk.defaults->string("hiddenOverlays"), "DP-1 first\n");
}

TEST(WeakCallbacks, DoNothingOnceTheDelegateIsGone) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addRememberedDell();
    auto delegate = desk.launch();
    auto settings = delegate->settings;
    auto menu = delegate->statusMenu();
    menu->willOpen();
    const auto items = menu->items();
    desk.defaults->setWriteObserver(
        [](std::string_view, const DefaultsValue&) { ADD_FAILURE() << "store write"; });
    desk.audio->setWriteObserver([](const sim::SimAudioWrite&) { ADD_FAILURE() << "audio write"; });

    // The level read and the overlay job are still queued; they carry what they need.
    delegate.reset();

    settings->onHideOSD();
    settings->onLanguage();
    settings->onSelect("mbp");
    settings->onAutostart(true);
    settings->onOpenAccessibility();
    for (std::size_t index = 0; index + 1 < items.size(); ++index) {
        menu->choose(index); // all but Quit, which is the application's
    }
    desk.addOutput("usb", "USB Audio");
    desk.audio->setDefaultOutput(desk.audio->idForUID("mbp").value());
    desk.scheduler->advance(std::chrono::seconds(5));

    EXPECT_EQ(settings->osdInfo(), "");
    EXPECT_TRUE(desk.workspace->history().empty());
    EXPECT_TRUE(desk.loginItem->history().empty());
    EXPECT_TRUE(desk.windows->windows().empty());
    EXPECT_FALSE(desk.eventTaps->tap());
}

} // namespace
} // namespace varnu
