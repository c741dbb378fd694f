#include "app/AppDelegate.h"
#include "app/NameMatching.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

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
    EXPECT_FALSE(containsIgnoringCase("", "Dell"));
}

TEST(MonitorChoice, PrefersTheNamedMonitorElseTheFirst) {
    SimDesk desk;
    const auto hdmi = desk.addOutput("right", "Desk Right (HDMI)");
    const auto usb = desk.addOutput("usb", "USB Audio");
    desk.addMonitor("Desk Left");
    desk.addMonitor("Desk Right");
    auto delegate = AppDelegate::create(desk.services());

    auto chosen = delegate->ddcMonitor();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->name(), "Desk Right");
    ASSERT_EQ(delegate->monitors.size(), 2u);
    EXPECT_EQ(chosen, delegate->monitors[1]);

    desk.audio->setDefaultOutput(usb);
    EXPECT_EQ(delegate->ddcMonitor(), delegate->monitors[0]);
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    EXPECT_EQ(delegate->ddcMonitor(), delegate->monitors[0]);
    // The list found first stays: the registry is not walked again.
    const auto walks = desk.registry->iteratorsCreated();
    desk.audio->setDefaultOutput(hdmi);
    delegate->ddcMonitor();
    EXPECT_EQ(desk.registry->iteratorsCreated(), walks);
}

TEST(MonitorChoice, NeverMatchesAMonitorWithoutANameButFallsBackToIt) {
    SimDesk desk;
    desk.addOutput("speakers", "Speakers");
    // A proxy met before any framebuffer carries no product name.
    auto unnamed = sim::SimMonitor::create(desk.scheduler);
    desk.registry->addAVServiceProxy(unnamed);
    desk.addMonitor("Speakers Pro");
    auto delegate = AppDelegate::create(desk.services());

    auto chosen = delegate->ddcMonitor();
    ASSERT_TRUE(chosen);
    EXPECT_EQ(chosen->name(), "");
    EXPECT_EQ(chosen, delegate->monitors.front());
}

TEST(MonitorChoice, LooksAgainOnEveryUseUntilAMonitorIsFound) {
    SimDesk desk;
    desk.addOutput("usb", "USB Audio");
    auto delegate = AppDelegate::create(desk.services());

    EXPECT_FALSE(delegate->ddcMonitor());
    EXPECT_FALSE(delegate->ddcMonitor());
    EXPECT_EQ(desk.registry->iteratorsCreated(), 2u);
    desk.addMonitor("DELL U2723QE");
    EXPECT_TRUE(delegate->ddcMonitor());
    EXPECT_EQ(desk.registry->iteratorsCreated(), 3u);
}

TEST(OutputChoice, MakesTheRememberedOutputTheDefaultOnlyWhenItIsNotAlready) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    std::vector<sim::SimAudioWrite> writes;
    desk.audio->setWriteObserver([&](const sim::SimAudioWrite& write) { writes.push_back(write); });
    auto delegate = AppDelegate::create(desk.services());

    delegate->applySavedDevice();
    EXPECT_TRUE(writes.empty());

    desk.defaults->put("selectedDeviceUID", std::string("gone"));
    delegate->applySavedDevice();
    EXPECT_TRUE(writes.empty());

    desk.defaults->put("selectedDeviceUID", std::string("dell"));
    delegate->applySavedDevice();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].selector, kAudioHardwarePropertyDefaultOutputDevice);
    EXPECT_EQ(writes[0].device, dell);
    EXPECT_EQ(writes[1].selector, kAudioHardwarePropertyDefaultSystemOutputDevice);
    EXPECT_EQ(writes[1].device, dell);

    delegate->applySavedDevice();
    EXPECT_EQ(writes.size(), 2u);
}

TEST(OutputChoice, ChoosingStoresTheOutputAndMakesItTheDefaultEvenWhenItIsAlready) {
    SimDesk desk;
    const auto speakers = desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addOutput("dell", "DELL U2723QE");
    auto monitor = desk.addMonitor("DELL U2723QE");
    std::vector<sim::SimAudioWrite> writes;
    desk.audio->setWriteObserver([&](const sim::SimAudioWrite& write) { writes.push_back(write); });
    auto delegate = AppDelegate::create(desk.services());

    delegate->choose("unknown");
    EXPECT_TRUE(writes.empty());
    EXPECT_FALSE(desk.defaults->contains("selectedDeviceUID"));

    delegate->loadState();
    ASSERT_EQ(delegate->loadedForUID, "mbp");
    delegate->volume = 70;
    delegate->choose("mbp");
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "mbp");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].device, speakers);
    EXPECT_EQ(writes[1].device, speakers);
    // Already loaded for this output: nothing is reloaded, but the model is refreshed.
    EXPECT_EQ(delegate->volume, 70);
    EXPECT_EQ(delegate->settings->selectedUID(), "mbp");
    EXPECT_EQ(delegate->settings->controlInfo(), "macOS controls the volume as usual.");

    delegate->choose("dell");
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "dell");
    EXPECT_EQ(delegate->loadedForUID, "dell");
    EXPECT_EQ(delegate->settings->selectedUID(), "dell");
    desk.scheduler->advance(std::chrono::milliseconds(100));
    EXPECT_EQ(monitor->transactions().size(), 2u); // the level read
}

TEST(VolumeState, TheStoredLevelAtOnceThenTheMonitorsReadingAsItComes) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    const auto usb = desk.addOutput("usb", "USB Audio");
    auto monitor = desk.addMonitor("DELL U2723QE");
    monitor->setControl(kVCPAudioSpeakerVolume, sim::VCPControl{40, 100});
    desk.defaults->put("volume.dell", std::int64_t{35});
    desk.defaults->put("volume.usb", std::string("loud"));
    auto delegate = AppDelegate::create(desk.services());
    const auto reads = [&] {
        std::size_t count = 0;
        for (const auto& transfer : monitor->transactions()) {
            count += transfer.direction == sim::I2CDirection::Read;
        }
        return count;
    };

    // A native output loads its level without asking any monitor.
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 50);
    desk.scheduler->advance(std::chrono::milliseconds(100));
    EXPECT_EQ(reads(), 0u);

    desk.audio->setDefaultOutput(dell);
    delegate->muted = true;
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 35);
    EXPECT_FALSE(delegate->muted);
    desk.scheduler->advance(std::chrono::milliseconds(100));
    EXPECT_EQ(delegate->volume, 40);
    EXPECT_EQ(reads(), 1u);

    // The same output again loads nothing.
    delegate->volume = 12;
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 12);

    // A stored value that is no integer counts as none; A, B, A loads each time.
    desk.audio->setDefaultOutput(usb);
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 50);
    desk.audio->setDefaultOutput(dell);
    delegate->loadState();
    EXPECT_EQ(delegate->volume, 35);
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(reads(), 3u);

    // A reading above 100 is taken as it comes; the keys then bring it back into range and
    // the monitor only ever gets levels from 0 to 100.
    monitor->setControl(kVCPAudioSpeakerVolume, sim::VCPControl{250, 255});
    desk.audio->setDefaultOutput(usb);
    delegate->loadState();
    desk.audio->setDefaultOutput(dell);
    delegate->loadState();
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(delegate->volume, 250);
    delegate->handle(SimDesk::key(kKeyTypeSoundDown));
    EXPECT_EQ(delegate->volume, 244);
    desk.scheduler->advance(std::chrono::milliseconds(200));
    EXPECT_EQ(monitor->control(kVCPAudioSpeakerVolume)->current, 100);
    delegate->handle(SimDesk::key(kKeyTypeSoundUp));
    EXPECT_EQ(delegate->volume, 100);
}

TEST(RefreshSettings, PublishesDevicesSelectionLoginItemPermissionAndControlText) {
    SimDesk desk;
    desk.systemDisplayName = "Linux";
    const auto speakers = desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    const auto usb = desk.addOutput("usb", "USB Audio");
    desk.defaults->put("selectedDeviceUID", std::string("usb"));
    auto delegate = AppDelegate::create(desk.services());
    auto& settings = *delegate->settings;

    delegate->refreshSettings();
    ASSERT_EQ(settings.devices().size(), 3u);
    EXPECT_EQ(settings.devices()[1], (AudioOutput{dell, "dell", "DELL U2723QE"}));
    // The system's default, not the remembered choice.
    EXPECT_EQ(settings.selectedUID(), "mbp");
    EXPECT_FALSE(settings.autostart());
    EXPECT_FALSE(settings.accessibilityOK());
    EXPECT_EQ(settings.controlInfo(), "Linux controls the volume as usual.");

    desk.loginItem->setStatus(LoginItemStatus::Enabled);
    delegate->installTap(false);
    desk.audio->setDefaultOutput(usb);
    delegate->refreshSettings();
    EXPECT_TRUE(settings.autostart());
    EXPECT_TRUE(settings.accessibilityOK());
    EXPECT_EQ(settings.selectedUID(), "usb");
    EXPECT_EQ(settings.controlInfo(), "This device cannot be controlled.");

    desk.loginItem->setStatus(LoginItemStatus::RequiresApproval);
    desk.addMonitor("DELL U2723QE");
    desk.audio->setDefaultOutput(dell);
    delegate->volume = 7;
    delegate->refreshSettings();
    EXPECT_FALSE(settings.autostart());
    EXPECT_EQ(settings.controlInfo(), "The volume is set directly on the monitor (7%).");

    desk.defaults->put("language", std::string("de"));
    delegate->refreshSettings();
    EXPECT_EQ(settings.controlInfo(), "Die Lautstärke wird direkt am Monitor geregelt (7 %).");
    desk.audio->setDefaultOutput(speakers);
    delegate->refreshSettings();
    EXPECT_EQ(settings.controlInfo(), "Die Lautstärke regelt Linux ganz normal.");
    desk.audio->setDefaultOutput(usb);
    delegate->monitors.clear();
    desk.registry->failIteratorCreation();
    delegate->refreshSettings();
    EXPECT_EQ(settings.controlInfo(), "Dieses Gerät lässt sich nicht regeln.");

    // Without a current output the line keeps what it said.
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    delegate->refreshSettings();
    EXPECT_EQ(settings.selectedUID(), "");
    EXPECT_EQ(settings.controlInfo(), "Dieses Gerät lässt sich nicht regeln.");
}

} // namespace
} // namespace varnu
