#include "app/AppDelegate.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

// What a person sees of each item, as the scenario traces show it.
std::vector<std::string> shown(const Menu& menu) {
    std::vector<std::string> lines;
    for (const auto& item : menu.items()) {
        lines.push_back(sim::menuItem(item));
    }
    return lines;
}

std::vector<std::string> build(AppDelegate& delegate) {
    Menu menu;
    MenuItem stale;
    stale.title = "left over from last time";
    menu.addItem(stale);
    delegate.menuNeedsUpdate(menu);
    return shown(menu);
}

TEST(StatusMenu, ListsTheOutputsWithTheSystemDefaultCheckedAndHowItIsControlled) {
    SimDesk desk;
    desk.systemDisplayName = "Linux";
    EXPECT_EQ(build(*AppDelegate::create(desk.services())),
              (std::vector<std::string>{
                  "(disabled) Output device for the volume keys",
                  "---",
                  "Allow Accessibility access…",
                  "---",
                  "Settings… [,]",
                  "Quit [q]",
              }));

    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    desk.addOutput("usb", "USB Audio");
    // The remembered choice is not what the check mark shows.
    desk.defaults->put("selectedDeviceUID", std::string("usb"));
    auto delegate = AppDelegate::create(desk.services());
    auto lines = build(*delegate);
    EXPECT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[1], "[x] MacBook Pro Speakers");
    EXPECT_EQ(lines[2], "[ ] USB Audio");
    EXPECT_EQ(lines[4], "(disabled) Control: Linux (standard)");
    desk.audio->setDefaultOutput(desk.audio->idForUID("usb").value());
    EXPECT_EQ(build(*delegate)[4], "(disabled) This device cannot be controlled");

    desk.languages->setPreferredLanguages({"de-DE"});
    EXPECT_EQ(build(*delegate)[4], "(disabled) Dieses Gerät lässt sich nicht steuern");
    desk.audio->setDefaultOutput(desk.audio->idForUID("mbp").value());
    EXPECT_EQ(build(*delegate)[4], "(disabled) Steuerung: Linux (normal)");

    // No current output: no control line at all, and no check mark.
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    lines = build(*delegate);
    EXPECT_EQ(lines[1], "[ ] MacBook Pro Speakers");
    EXPECT_EQ(lines.size(), 8u);
}

TEST(StatusMenu, ItemsActOnTheDelegateAndTheApplication) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    desk.eventTaps->setTrusted(false);
    desk.eventTaps->setAdvice(LocalizedText{"Join the group.", "Der Gruppe beitreten."});
    desk.defaults->put("selectedDeviceUID", std::string("mbp"));
    auto delegate = desk.launch();
    auto item = desk.statusBar->items().front();
    ASSERT_EQ(item->menu(), delegate->statusMenu());
    EXPECT_EQ(delegate->settings->accessAdvice()->english, "Join the group.");

    item->openMenu();
    ASSERT_TRUE(item->chooseItem("DELL U2723QE"));
    desk.scheduler->runUntilIdle();
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "dell");
    EXPECT_EQ(desk.audio->defaultSystemOutput(), dell);

    ASSERT_TRUE(item->chooseItem("Allow Accessibility access…"));
    ASSERT_EQ(desk.workspace->history().size(), 1u);
    EXPECT_EQ(desk.workspace->history()[0].url, "settings:accessibility");

    // A disabled line does nothing, nor does an item without a device.
    ASSERT_TRUE(item->chooseItem("Output device for the volume keys"));
    EXPECT_TRUE(desk.windows->windows().empty());
    MenuItem withoutDevice;
    withoutDevice.title = "DELL U2723QE";
    delegate->selectDevice(withoutDevice);
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "dell");

    ASSERT_TRUE(item->chooseItem("Settings…"));
    ASSERT_EQ(desk.windows->windows().size(), 1u);
    EXPECT_TRUE(desk.windows->windows()[0]->isVisible());

    // Once the keys are caught, the advice gives way to what else holds the same devices.
    desk.eventTaps->setNotice(LocalizedText{"Others open uinput.", "Andere öffnen uinput."});
    desk.eventTaps->setTrusted(true);
    desk.scheduler->advance(std::chrono::seconds(3));
    ASSERT_TRUE(delegate->tap);
    EXPECT_EQ(delegate->settings->accessAdvice()->english, "Others open uinput.");
    desk.eventTaps->setNotice(std::nullopt);
    desk.scheduler->advance(std::chrono::seconds(3));
    EXPECT_EQ(delegate->settings->accessAdvice(), std::nullopt);
}

TEST(StatusMenu, SaysWhileTheKeysGoToAnotherProgramAndTheSettingsSayWhich) {
    SimDesk desk;
    desk.eventTaps->setTrusted(true);
    desk.eventTaps->setTakenElsewhere(LocalizedText{"Quit /tmp/x.", "Beenden Sie /tmp/x."});
    auto delegate = desk.launch();
    const auto line = "(disabled) Volume keys go to another program";
    EXPECT_EQ(build(*delegate)[2], line);
    EXPECT_FALSE(delegate->settings->accessibilityOK());
    EXPECT_EQ(delegate->settings->accessAdvice()->german, "Beenden Sie /tmp/x.");

    // That program went: the keys are Varnu's again.
    desk.eventTaps->setTakenElsewhere(std::nullopt);
    desk.scheduler->advance(std::chrono::seconds(2));
    EXPECT_TRUE(delegate->settings->accessibilityOK());
    EXPECT_FALSE(delegate->settings->accessAdvice());
    EXPECT_NE(build(*delegate)[2], line);
}

TEST(SettingsWindow, IsMadeOnceAndOpensOnFreshSettingsInFront) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    // Nothing has filled the model in yet.
    auto delegate = AppDelegate::create(desk.services());
    delegate->installTap(false);
    const auto& model = *delegate->settings;
    std::vector<std::string> steps;
    const auto modelSays = [&] {
        return model.selectedUID() + " of " + std::to_string(model.devices().size()) +
               (model.accessibilityOK() ? ", keys active" : "");
    };
    desk.windows->setObserver([&](const sim::WindowRecord& record) {
        if (record.kind == sim::WindowRecord::Kind::Made) {
            steps.push_back("made " + modelSays());
        } else if (record.kind == sim::WindowRecord::Kind::MadeKeyAndOrderedFront) {
            steps.push_back("in front " + modelSays());
        }
    });
    desk.application->setObserver([&](const sim::ApplicationRecord& record) {
        if (record.kind == sim::ApplicationRecord::Kind::Activated) {
            steps.push_back(record.flag ? "activated ignoring other apps" : "activated");
        }
    });

    delegate->showSettings();
    EXPECT_EQ(steps, (std::vector<std::string>{"made mbp of 2, keys active",
                                               "activated ignoring other apps",
                                               "in front mbp of 2, keys active"}));
    ASSERT_EQ(desk.windows->windows().size(), 1u);
    const auto shown = desk.windows->windows()[0];
    EXPECT_EQ(delegate->settingsWindow, shown);
    // Closing it only hides it: the next opening shows the same window.
    EXPECT_FALSE(shown->releasedWhenClosed());

    // Closed by the user, then asked for again after the output changed.
    shown->close();
    steps.clear();
    desk.audio->setDefaultOutput(dell);
    delegate->showSettings();
    EXPECT_EQ(steps, (std::vector<std::string>{"activated ignoring other apps",
                                               "in front dell of 2, keys active"}));
    EXPECT_EQ(desk.windows->windows().size(), 1u);
    EXPECT_TRUE(shown->isVisible());
}

} // namespace
} // namespace varnu
