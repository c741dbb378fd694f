#include "app/AppDelegate.h"
#include "app/NameMatching.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

TEST(NameMatching, FindsTheMonitorNameInTheOutputNameIgnoringCase) {
    EXPECT_TRUE(containsIgnoringCase("Office Screen 27", "office screen"));
    EXPECT_TRUE(containsIgnoringCase("desk right (HDMI)", "Desk Right"));
    EXPECT_FALSE(containsIgnoringCase("Speakers", "Speakers Pro"));
    EXPECT_FALSE(containsIgnoringCase("Desk Left", "Desk Right"));
    // Beyond ASCII: Latin-1, Latin Extended-A, Greek (with its final sigma), Cyrillic.
    EXPECT_TRUE(containsIgnoringCase("ÉCRAN DE BUREAU", "écran"));
    EXPECT_TRUE(containsIgnoringCase("Monitor ŁÓDŹ Ÿ", "łódź ÿ"));
    EXPECT_TRUE(containsIgnoringCase("ΟΘΌΝΗ ΓΡΑΦΕΊΟΥ", "οθόνη"));
    EXPECT_TRUE(containsIgnoringCase("ΗΧΕΊΟ ΤΟΥ ΚΌΣΜΟΣ", "κόσμος"));
    EXPECT_TRUE(containsIgnoringCase("Монитор ДЕЛЛ", "МОНИТОР делл"));
    EXPECT_FALSE(containsIgnoringCase("Монитор", "Монитор 2"));
    // Bytes that are not UTF-8 match only themselves.
    EXPECT_TRUE(containsIgnoringCase("Dell \xFF\xFE", "\xFF\xFE"));
    EXPECT_FALSE(containsIgnoringCase("Dell \xFF", "\xFE"));
    EXPECT_FALSE(containsIgnoringCase("\xC3", "\xE3"));
    EXPECT_TRUE(containsIgnoringCase("anything", ""));
    EXPECT_TRUE(containsIgnoringCase("", ""));
    EXPECT_FALSE(containsIgnoringCase("", "Dell"));
}

TEST(MonitorChoice, PrefersTheNamedMonitorNeverMatchesAnUnnamedOneAndFallsBackToTheFirst) {
    SimDesk desk;
    const auto hdmi = desk.addOutput("right", "Desk Right (HDMI)");
    const auto usb = desk.addOutput("usb", "USB Audio");
    // A proxy met before any framebuffer carries no product name.
    desk.registry->addAVServiceProxy(sim::SimMonitor::create(desk.scheduler));
    desk.addMonitor("Desk Left");
    desk.addMonitor("Desk Right");
    auto delegate = AppDelegate::create(desk.services());

    auto chosen = delegate->ddcMonitor();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->name(), "Desk Right");
    ASSERT_EQ(delegate->monitors.size(), 3u);
    EXPECT_EQ(delegate->monitors[0]->name(), "");

    desk.audio->setDefaultOutput(usb);
    EXPECT_EQ(delegate->ddcMonitor(), delegate->monitors[0]);
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    EXPECT_EQ(delegate->ddcMonitor(), delegate->monitors[0]);
    desk.audio->setDefaultOutput(hdmi);
    EXPECT_EQ(delegate->ddcMonitor(), chosen);
    EXPECT_EQ(desk.registry->iteratorsCreated(), 1u);
}

TEST(OutputChoice, RestoringWritesOnlyWhenNeededChoosingAlwaysWrites) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addOutput("dell", "DELL U2723QE");
    int writes = 0;
    desk.audio->setWriteObserver([&](const sim::SimAudioWrite&) { ++writes; });
    auto delegate = AppDelegate::create(desk.services());

    delegate->applySavedDevice();
    desk.defaults->put("selectedDeviceUID", std::string("gone"));
    delegate->applySavedDevice();
    delegate->choose("unknown");
    EXPECT_EQ(writes, 0);
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "gone");

    // Choosing the current output again writes anyway, but reloads nothing.
    delegate->loadState();
    delegate->volume = 70;
    delegate->choose("mbp");
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "mbp");
    EXPECT_EQ(writes, 2);
    EXPECT_EQ(delegate->volume, 70);
    EXPECT_EQ(delegate->settings->selectedUID(), "mbp");
    delegate->applySavedDevice();
    EXPECT_EQ(writes, 2);
}

TEST(VolumeState, LoadsOnEachChangeOfOutputAndTakesTheReadingAsItComes) {
    SimDesk desk;
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    const auto usb = desk.addOutput("usb", "USB Audio");
    auto monitor = desk.addMonitor("DELL U2723QE");
    desk.defaults->put("volume.dell", std::int64_t{35});
    desk.defaults->put("volume.usb", std::string("loud"));
    monitor->setControl(kVCPAudioSpeakerVolume, sim::VCPControl{250, 255});
    auto delegate = AppDelegate::create(desk.services());

    delegate->muted = true;
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 35);
    EXPECT_FALSE(delegate->muted);
    delegate->volume = 12;
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 12);

    // A stored value that is no integer counts as none.
    desk.audio->setDefaultOutput(usb);
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 50);

    // A reading above 100 is taken as it comes; the keys then bring it back into range.
    desk.audio->setDefaultOutput(dell);
    delegate->loadState();
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(delegate->volume, 250);
    delegate->handle(SimDesk::key(kKeyTypeSoundUp));
    EXPECT_EQ(delegate->volume, 100);
}

TEST(RefreshSettings, ShowsTheSystemDefaultAndNamesTheSystemInTheControlText) {
    SimDesk desk;
    desk.systemDisplayName = "Linux";
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto usb = desk.addOutput("usb", "USB Audio");
    desk.defaults->put("selectedDeviceUID", std::string("usb"));
    auto delegate = AppDelegate::create(desk.services());
    auto& settings = *delegate->settings;

    delegate->refreshSettings();
    EXPECT_EQ(settings.devices().size(), 2u);
    EXPECT_EQ(settings.selectedUID(), "mbp"); // the system's default, not the remembered choice
    EXPECT_EQ(settings.controlInfo(), "Linux controls the volume as usual.");
    desk.defaults->put("language", std::string("de"));
    delegate->refreshSettings();
    EXPECT_EQ(settings.controlInfo(), "Die Lautstärke regelt Linux ganz normal.");
    desk.audio->setDefaultOutput(usb);
    delegate->refreshSettings();
    EXPECT_EQ(settings.controlInfo(), "Dieses Gerät lässt sich nicht regeln.");

    // Without a current output the line keeps what it said.
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    delegate->refreshSettings();
    EXPECT_EQ(settings.selectedUID(), "");
    EXPECT_EQ(settings.controlInfo(), "Dieses Gerät lässt sich nicht regeln.");
}

struct RoutedDesk : SimDesk {
    AudioObjectID speakers = addOutput("mbp", "MacBook Pro Speakers", true);
    AudioObjectID dell = addOutput("dell", "DELL U2723QE");
    std::shared_ptr<sim::SimMonitor> monitor = addMonitor("DELL U2723QE");
    std::shared_ptr<AppDelegate> delegate;
    std::shared_ptr<sim::SimSerialQueue> ddcQueue;

    RoutedDesk() {
        audio->setDefaultOutput(dell);
        defaults->put("hideMonitorOSD", false);
        delegate = AppDelegate::create(services());
        ddcQueue = std::static_pointer_cast<sim::SimSerialQueue>(delegate->ddcQueue);
    }
    std::size_t panelShowings() const {
        return overlays->panels().empty() ? 0 : overlays->panels()[0]->timesOrderedFront();
    }
};

TEST(KeyDispatch, PassesEveryEventItDoesNotActOn) {
    RoutedDesk desk;
    auto otherType = SimDesk::key(kKeyTypeSoundUp);
    otherType.event->type = 13;
    auto otherSubtype = SimDesk::key(kKeyTypeSoundUp);
    otherSubtype.event->subtype = 7;
    for (const auto& event : {TappedEvent{kCGEventSystemDefined, std::nullopt}, SimDesk::key(2),
                              otherType, otherSubtype}) {
        EXPECT_FALSE(desk.delegate->handle(event));
    }
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    EXPECT_FALSE(desk.delegate->handle(SimDesk::key(kKeyTypeMute)));

    EXPECT_EQ(desk.delegate->volume, 50);
    EXPECT_EQ(desk.defaults->values().size(), 1u); // only what the test put there
    EXPECT_EQ(desk.ddcQueue->pendingJobs(), 0u);
    EXPECT_EQ(desk.panelShowings(), 0u);
}

TEST(KeyDispatch, StepsFromWhatTheMonitorPlaysAndReadsItOnlyAfterAQuietPeriod) {
    RoutedDesk desk;
    desk.monitor->setControl(kVCPAudioSpeakerVolume, {30, 100});
    const auto reads = [&] {
        const auto transfers = desk.monitor->transactions();
        return std::count_if(transfers.begin(), transfers.end(), [](const auto& transfer) {
            return transfer.direction == sim::I2CDirection::Read;
        });
    };
    const auto press = [&](TappedEvent key = SimDesk::key(kKeyTypeSoundUp)) {
        EXPECT_TRUE(desk.delegate->handle(key));
        desk.scheduler->advance(std::chrono::milliseconds(1));
    };

    // Varnu has not heard from the monitor yet: the keys are decided at once, but their levels,
    // the store and the overlay wait for the reading, which the caller does not wait for.
    auto repeat = SimDesk::key(kKeyTypeSoundUp);
    repeat.event->data1 |= 1;
    EXPECT_TRUE(desk.delegate->handle(SimDesk::key(kKeyTypeSoundUp)));
    EXPECT_TRUE(desk.delegate->handle(repeat));
    EXPECT_EQ(desk.delegate->volume, 50);
    EXPECT_FALSE(desk.defaults->object("volume.dell"));
    EXPECT_EQ(desk.panelShowings(), 0u);
    EXPECT_EQ(desk.ddcQueue->pendingJobs(), 1u);
    EXPECT_TRUE(desk.monitor->transactions().empty());
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(desk.delegate->volume, 42);
    EXPECT_EQ(desk.defaults->object("volume.dell"), DefaultsValue{std::int64_t{42}});
    EXPECT_EQ(desk.monitor->control(kVCPAudioSpeakerVolume)->current, 42);
    EXPECT_EQ(desk.panelShowings(), 1u);

    // The rest of the burst reads nothing, even when the monitor's own buttons moved it.
    desk.monitor->setControl(kVCPAudioSpeakerVolume, {10, 100});
    press(SimDesk::key(kKeyTypeMute));
    press();
    EXPECT_EQ(desk.delegate->volume, 48);
    EXPECT_FALSE(desk.delegate->muted);
    EXPECT_EQ(reads(), 1);

    // Quiet for a while: the next key reads first and steps from what it finds.
    desk.scheduler->advance(kQuietPeriod);
    desk.monitor->setControl(kVCPAudioSpeakerVolume, {10, 100});
    press();
    EXPECT_EQ(desk.delegate->volume, 48);
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(desk.delegate->volume, 16);
    EXPECT_EQ(reads(), 2);

    // A reading that fails leaves the level Varnu knows.
    desk.scheduler->advance(kQuietPeriod);
    desk.monitor->refuseReads(sim::SimMonitor::kAlways);
    press(SimDesk::key(kKeyTypeSoundDown));
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(desk.delegate->volume, 10);
    EXPECT_EQ(desk.monitor->control(kVCPAudioSpeakerVolume)->current, 10);
}

} // namespace
} // namespace varnu
