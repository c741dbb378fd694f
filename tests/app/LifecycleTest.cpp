#include "app/AppDelegate.h"
#include "ddc/VCP.h"
#include "platform/ThreadSerialQueue.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

TEST(AppDelegate, ConstructionOnlyGathersTheLongLivedObjects) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    desk.addMonitor("DELL U2723QE");
    desk.defaults->put("step", std::int64_t{10});
    desk.defaults->put("hideMonitorOSD", false);

    auto delegate = startApplication(desk.services());
    EXPECT_EQ(desk.application->activationPolicy(), ActivationPolicy::Accessory);
    EXPECT_EQ(desk.application->delegate(), delegate);
    EXPECT_FALSE(desk.application->hasLaunched());

    ASSERT_EQ(desk.statusBar->items().size(), 1u);
    const auto& item = *desk.statusBar->items()[0];
    EXPECT_EQ(item.length(), kVariableStatusItemLength);
    EXPECT_FALSE(item.image());
    EXPECT_FALSE(item.menu());
    EXPECT_EQ(delegate->ddcQueue->label(), "ddc");
    // The stored preferences are in force before launching begins.
    EXPECT_EQ(delegate->settings->step(), 10);
    EXPECT_FALSE(delegate->settings->hideMonitorOSD());
    EXPECT_EQ(delegate->volume, 50);
    EXPECT_FALSE(delegate->muted);
    EXPECT_EQ(delegate->loadedForUID, "");
    EXPECT_TRUE(delegate->monitors.empty());
    EXPECT_FALSE(delegate->tap);
    EXPECT_FALSE(delegate->settingsWindow);
    EXPECT_TRUE(desk.eventTaps->history().empty());
    EXPECT_EQ(desk.registry->iteratorsCreated(), 0u);
    EXPECT_FALSE(desk.scheduler->hasPendingWork());
}

TEST(AppDelegate, LaunchWiresTheCallbacksAndTheTimer) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    desk.addMonitor("DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    desk.eventTaps->setTrusted(false);
    auto delegate = desk.launch();
    auto& settings = *delegate->settings;

    EXPECT_EQ(desk.statusBar->items()[0]->image(), (SymbolImage{"speaker.wave.2.fill", "Volume"}));
    EXPECT_EQ(desk.audio->defaultOutput(), dell);
    EXPECT_EQ(delegate->loadedForUID, "dell");

    // The window calls these; each reaches the delegate.
    settings.onAutostart(true);
    EXPECT_TRUE(settings.autostart());
    settings.onOpenAccessibility();
    ASSERT_EQ(desk.workspace->history().size(), 1u);
    settings.onSelect("mbp");
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "mbp");
    settings.setLanguage("de");
    EXPECT_EQ(settings.controlInfo(), "Die Lautstärke regelt macOS ganz normal.");

    // The system switching to another output brings the remembered one back.
    desk.audio->setDefaultOutput(dell);
    desk.scheduler->runUntilIdle();
    EXPECT_EQ(desk.audio->defaultOutput(), desk.audio->idForUID("mbp"));

    // The timer polls for the permission every 2 seconds, without asking.
    desk.eventTaps->setTrusted(true);
    desk.scheduler->advance(std::chrono::milliseconds(1999));
    EXPECT_FALSE(delegate->tap);
    desk.scheduler->advance(std::chrono::milliseconds(1));
    EXPECT_TRUE(delegate->tap);
    EXPECT_TRUE(settings.accessibilityOK());
    std::vector<bool> prompts;
    for (const auto& record : desk.eventTaps->history()) {
        if (record.kind == sim::EventTapRecord::Kind::TrustChecked) {
            prompts.push_back(record.prompt);
        }
    }
    EXPECT_EQ(prompts, (std::vector<bool>{true, false}));

    EXPECT_TRUE(delegate->applicationShouldHandleReopen(true));
    EXPECT_TRUE(delegate->applicationShouldHandleReopen(false));
    EXPECT_EQ(desk.windows->windows().size(), 1u);
    EXPECT_EQ(desk.windows->windows()[0]->timesMadeKeyAndOrderedFront(), 2);
}

TEST(Launch, ShowsTheKeysActiveBeforeTheFirstTick) {
    // A later launch, so that no settings window refreshes the model on the way.
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    auto delegate = desk.launch();
    ASSERT_TRUE(delegate->tap);
    EXPECT_TRUE(delegate->settings->accessibilityOK());
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
    desk.addOutput("dell", "DELL U2723QE");
    auto speakers = desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addMonitor("DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    auto delegate = desk.launch();
    ASSERT_EQ(delegate->monitors.size(), 1u);
    const auto first = delegate->monitors[0];

    // A monitor plugged in later is not seen while the list stays, and the default output
    // changing does not touch the list.
    desk.addMonitor("LG UltraFine");
    desk.audio->setDefaultOutput(speakers);
    desk.scheduler->runUntilIdle();
    ASSERT_EQ(delegate->monitors.size(), 1u);
    EXPECT_EQ(delegate->monitors[0], first);

    // Its audio device arriving changes the list: the monitors are found again.
    desk.addOutput("lg", "LG UltraFine");
    desk.scheduler->runUntilIdle();
    delegate->ddcMonitor();
    ASSERT_EQ(delegate->monitors.size(), 2u);
    EXPECT_NE(delegate->monitors[0], first);
    EXPECT_EQ(delegate->monitors[1]->name(), "LG UltraFine");
}

// A bus that hangs until the test lets it go.
class HangingService final : public AVService {
public:
    HangingService(std::shared_future<void> release, std::shared_ptr<std::atomic<int>> writes)
        : release_(std::move(release))
        , writes_(std::move(writes)) {}
    IOReturn writeI2C(std::uint32_t, std::uint32_t, std::span<const std::uint8_t>) override {
        ++*writes_;
        release_.wait();
        return kIOReturnSuccess;
    }
    IOReturn readI2C(std::uint32_t, std::uint32_t, std::span<std::uint8_t>) override {
        return kIOReturnSuccess;
    }

private:
    std::shared_future<void> release_;
    // Shared: the bus outlives the test's wait for it.
    std::shared_ptr<std::atomic<int>> writes_;
};

class OneDisplay final : public DisplayEnumerator {
public:
    OneDisplay(std::shared_future<void> release, std::shared_ptr<std::atomic<int>> writes)
        : release_(std::move(release))
        , writes_(std::move(writes)) {}
    std::vector<ExternalDisplay> externalDisplays() override {
        std::vector<ExternalDisplay> displays;
        displays.push_back(
            ExternalDisplay{"DELL U2723QE", std::make_unique<HangingService>(release_, writes_)});
        return displays;
    }

private:
    std::shared_future<void> release_;
    std::shared_ptr<std::atomic<int>> writes_;
};

class NoPause final : public Pause {
public:
    void usleep(std::uint32_t) override {}
};

TEST(Termination, GivesUpWaitingForAMonitorThatHangs) {
    SimDesk desk;
    desk.addOutput("dell", "DELL U2723QE");
    std::promise<void> release;
    auto writes = std::make_shared<std::atomic<int>>(0);
    auto services = desk.services();
    services.registry = nullptr;
    services.displays = std::make_shared<OneDisplay>(release.get_future().share(), writes);
    services.pause = std::make_shared<NoPause>();
    services.makeSerialQueue = [](const std::string& label) {
        return std::make_shared<ThreadSerialQueue>(label);
    };
    auto delegate = AppDelegate::create(services);

    // Returns although the write it queued is still stuck on the bus.
    delegate->applicationWillTerminate();
    EXPECT_EQ(writes->load(), 1);

    // Nor does letting the delegate and its queue go wait for the stuck bus.
    delegate.reset();
    EXPECT_EQ(writes->load(), 1);

    // Once the bus answers, the write is sent its second time by the queue's lingering thread.
    release.set_value();
    for (int tries = 0; tries < 500 && writes->load() < 2; ++tries) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(writes->load(), 2);
}

TEST(WeakCallbacks, DoNothingOnceTheDelegateIsGone) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addOutput("dell", "DELL U2723QE");
    auto monitor = desk.addMonitor("DELL U2723QE");
    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    auto delegate = desk.launch();
    auto settings = delegate->settings;
    auto menu = delegate->statusMenu();
    menu->willOpen();
    const auto items = menu->items();
    desk.defaults->setWriteObserver([](std::string_view, const DefaultsValue&) {
        ADD_FAILURE() << "a store write after the delegate is gone";
    });
    desk.audio->setWriteObserver([](const sim::SimAudioWrite&) {
        ADD_FAILURE() << "an audio write after the delegate is gone";
    });

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
