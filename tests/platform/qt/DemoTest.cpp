// `varnu --demo` in-process: the real core on the simulated monitor, driven from the demo
// window's buttons.

#include "app/AppDelegate.h"
#include "ddc/VCP.h"
#include "platform/qt/DemoWindow.h"
#include "platform/qt/DemoWorld.h"
#include "platform/qt/QtFront.h"
#include "settings/SettingsModel.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QCheckBox>
#include <QPushButton>

#include <gtest/gtest.h>

namespace varnu::qt {
namespace {

using test::pumpPosted;
using test::pumpUntil;

std::uint16_t current(const sim::SimMonitor& monitor, std::uint8_t code) {
    const auto control = monitor.control(code);
    return control ? control->current : 0;
}

TEST(DemoTest, TheWindowsKeysReachTheMonitorThroughTheCore) {
    const auto front = QtFront::make();
    DemoWorld world(front);
    world.defaults()->put("language", std::string("en"));
    auto delegate = startApplication(world.services());
    delegate->applicationDidFinishLaunching();
    ASSERT_TRUE(pumpUntil([&] { return delegate->settingsWindow != nullptr; }))
        << "the first run opens the settings window";
    const auto& monitor = *world.monitor();
    // The launch's read-back of the level and the overlay check reach the main queue in that
    // order, so once the overlay text is there the level read from the monitor is in force.
    ASSERT_TRUE(pumpUntil([&] { return !delegate->settings->osdInfo().empty(); }));
    EXPECT_EQ(current(monitor, kVCPOSD), kOSDHidden);

    int closes = 0;
    DemoWindow window(world, [&] { ++closes; });
    window.show();

    window.keyButton(DemoKey::VolumeUp)->click();
    EXPECT_TRUE(window.lastKeyText().contains(QStringLiteral("handled by Varnu")));
    ASSERT_TRUE(pumpUntil([&] { return current(monitor, kVCPAudioSpeakerVolume) == 56; }));

    window.shiftBox()->setChecked(true);
    window.optionBox()->setChecked(true);
    window.keyButton(DemoKey::VolumeDown)->click();
    ASSERT_TRUE(pumpUntil([&] { return current(monitor, kVCPAudioSpeakerVolume) == 55; }));
    ASSERT_TRUE(pumpUntil([&] {
        return window.framesText().contains(QStringLiteral("write 37 51  84 03 62 00 37"));
    })) << window.framesText().toStdString();
    EXPECT_TRUE(window.monitorText().contains(QStringLiteral("Volume: 55 of 100")));
    window.keyButton(DemoKey::Mute)->click();
    ASSERT_TRUE(pumpUntil([&] { return current(monitor, kVCPAudioMute) == kAudioMuteOn; }));
    ASSERT_TRUE(
        pumpUntil([&] { return window.monitorText().contains(QStringLiteral("Muted: yes")); }));
    // On the built-in speakers the keys go to the system and the monitor hears nothing.
    // Everything the "ddc" queue has done so far has reached the window once it is idle and
    // the frames it posted have run.
    const auto ddcIdle = [&] {
        delegate->ddcQueue->sync([] {});
        pumpPosted();
    };
    delegate->choose(DemoWorld::kSpeakersUID);
    ddcIdle();
    EXPECT_EQ(delegate->settings->controlInfo(), "Linux controls the volume as usual.")
        << "the demo names the system it runs on";
    const auto frames = window.framesText();
    window.keyButton(DemoKey::VolumeUp)->click();
    EXPECT_TRUE(window.lastKeyText().contains(QStringLiteral("passed on to the system")));
    ddcIdle();
    EXPECT_EQ(window.framesText(), frames);

    // German follows the language setting.
    delegate->settings->setLanguage("de");
    window.refresh();
    EXPECT_EQ(window.keyButton(DemoKey::VolumeUp)->text(), QStringLiteral("Lauter"));
    EXPECT_EQ(window.optionBox()->text(), QStringLiteral("Alt")) << "the key's name on Linux";

    window.close();
    EXPECT_EQ(closes, 1);
    delegate->choose(DemoWorld::kDisplayUID);
    delegate->applicationWillTerminate();
    EXPECT_EQ(current(monitor, kVCPOSD), kOSDShown)
        << "quitting gives the monitor its overlay back";
    delegate.reset();
    pumpPosted();
}

} // namespace
} // namespace varnu::qt
