#include "app/AppDelegate.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

// What a person sees of each item: "[x] name", "---", "(disabled) text", "text [key]".
std::vector<std::string> shown(const Menu& menu) {
    std::vector<std::string> lines;
    for (const auto& item : menu.items()) {
        if (item.separator) {
            lines.push_back("---");
        } else if (item.representedObject) {
            lines.push_back((item.checked ? "[x] " : "[ ] ") + item.title + " <" +
                            *item.representedObject + ">");
        } else {
            std::string line = item.enabled ? item.title : "(disabled) " + item.title;
            if (!item.keyEquivalent.empty()) {
                line += " [" + item.keyEquivalent + "]";
            }
            lines.push_back(line);
        }
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
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    desk.addOutput("usb", "USB Audio");
    desk.addMonitor("DELL U2723QE");
    // The remembered choice is not what the check mark shows.
    desk.defaults->put("selectedDeviceUID", std::string("usb"));
    auto delegate = AppDelegate::create(desk.services());

    EXPECT_EQ(build(*delegate), (std::vector<std::string>{
                                    "(disabled) Output device for the volume keys",
                                    "[x] MacBook Pro Speakers <mbp>",
                                    "[ ] DELL U2723QE <dell>",
                                    "[ ] USB Audio <usb>",
                                    "---",
                                    "(disabled) Control: Linux (standard)",
                                    "Allow Accessibility access…",
                                    "---",
                                    "Settings… [,]",
                                    "Quit [q]",
                                }));

    desk.audio->setDefaultOutput(dell);
    delegate->volume = 35;
    auto lines = build(*delegate);
    EXPECT_EQ(lines[1], "[ ] MacBook Pro Speakers <mbp>");
    EXPECT_EQ(lines[2], "[x] DELL U2723QE <dell>");
    EXPECT_EQ(lines[5], "(disabled) Control: monitor (DDC) – 35%");

    // The tap being there is what makes the permission item go.
    delegate->installTap(false);
    ASSERT_TRUE(delegate->tap);
    lines = build(*delegate);
    EXPECT_EQ(lines[6], "---");
    EXPECT_EQ(lines.size(), 9u);

    // No current output: no control line at all, and no check mark.
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    EXPECT_EQ(build(*delegate), (std::vector<std::string>{
                                    "(disabled) Output device for the volume keys",
                                    "[ ] MacBook Pro Speakers <mbp>",
                                    "[ ] DELL U2723QE <dell>",
                                    "[ ] USB Audio <usb>",
                                    "---",
                                    "---",
                                    "Settings… [,]",
                                    "Quit [q]",
                                }));
}

TEST(StatusMenu, SaysWhenTheOutputCannotBeControlledAndWhenThereAreNoOutputs) {
    SimDesk desk;
    auto delegate = AppDelegate::create(desk.services());
    EXPECT_EQ(build(*delegate), (std::vector<std::string>{
                                    "(disabled) Output device for the volume keys",
                                    "---",
                                    "Allow Accessibility access…",
                                    "---",
                                    "Settings… [,]",
                                    "Quit [q]",
                                }));

    desk.addOutput("usb", "USB Audio");
    EXPECT_EQ(build(*delegate)[3], "(disabled) This device cannot be controlled");
}

TEST(StatusMenu, SpeaksGermanWhenTheLanguageSaysSo) {
    SimDesk desk;
    desk.systemDisplayName = "Linux";
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    const auto usb = desk.addOutput("usb", "USB Audio");
    desk.languages->setPreferredLanguages({"de-DE"});
    auto delegate = AppDelegate::create(desk.services());

    EXPECT_EQ(build(*delegate), (std::vector<std::string>{
                                    "(disabled) Ausgabegerät für die Lautstärketasten",
                                    "[x] MacBook Pro Speakers <mbp>",
                                    "[ ] DELL U2723QE <dell>",
                                    "[ ] USB Audio <usb>",
                                    "---",
                                    "(disabled) Steuerung: Linux (normal)",
                                    "Bedienungshilfen-Zugriff erlauben …",
                                    "---",
                                    "Einstellungen … [,]",
                                    "Beenden [q]",
                                }));
    desk.audio->setDefaultOutput(usb);
    EXPECT_EQ(build(*delegate)[5], "(disabled) Dieses Gerät lässt sich nicht steuern");

    desk.addMonitor("DELL U2723QE");
    desk.audio->setDefaultOutput(dell);
    delegate->volume = 35;
    EXPECT_EQ(build(*delegate)[5], "(disabled) Steuerung: Monitor (DDC) – 35 %");

    // The stored choice overrides the system language, at the next opening.
    desk.defaults->put("language", std::string("en"));
    EXPECT_EQ(build(*delegate)[5], "(disabled) Control: monitor (DDC) – 35%");
}

TEST(StatusMenu, ItemsActOnTheDelegateAndTheApplication) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    desk.eventTaps->setTrusted(false);
    desk.defaults->put("selectedDeviceUID", std::string("mbp"));
    auto delegate = desk.launch();
    auto item = desk.statusBar->items().front();
    ASSERT_EQ(item->length(), kVariableStatusItemLength);
    ASSERT_EQ(item->menu(), delegate->statusMenu());

    item->openMenu();
    ASSERT_TRUE(item->chooseItem("DELL U2723QE"));
    desk.scheduler->runUntilIdle();
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "dell");
    EXPECT_EQ(desk.audio->defaultOutput(), dell);
    EXPECT_EQ(desk.audio->defaultSystemOutput(), dell);

    ASSERT_TRUE(item->chooseItem("Allow Accessibility access…"));
    ASSERT_EQ(desk.workspace->history().size(), 1u);
    EXPECT_EQ(desk.workspace->history()[0].url, "settings:accessibility");

    // A disabled line does nothing.
    ASSERT_TRUE(item->chooseItem("Output device for the volume keys"));
    EXPECT_TRUE(desk.windows->windows().empty());

    ASSERT_TRUE(item->chooseItem("Settings…"));
    ASSERT_EQ(desk.windows->windows().size(), 1u);
    EXPECT_TRUE(desk.windows->windows()[0]->isVisible());

    // An item without a device does nothing when it reaches selectDevice.
    MenuItem withoutDevice;
    withoutDevice.title = "DELL U2723QE";
    delegate->selectDevice(withoutDevice);
    EXPECT_EQ(desk.defaults->string("selectedDeviceUID"), "dell");

    ASSERT_TRUE(item->chooseItem("Quit"));
    EXPECT_TRUE(desk.application->isTerminated());
}

// What happens to the settings window and the application, with what the window's model says
// whenever the window appears or comes to the front.
struct WindowSteps {
    std::vector<std::string> steps;

    WindowSteps(SimDesk& desk, const SettingsModel& model) {
        const auto modelSays = [&model] {
            return " (" + model.selectedUID() + " of " + std::to_string(model.devices().size()) +
                   " outputs" + (model.accessibilityOK() ? ", keys active)" : ")");
        };
        desk.windows->setObserver([this, modelSays](const sim::WindowRecord& record) {
            using Kind = sim::WindowRecord::Kind;
            switch (record.kind) {
            case Kind::Made:
                steps.push_back("made" + modelSays());
                break;
            case Kind::TitleSet:
                steps.push_back("titled " + record.title);
                break;
            case Kind::StyleMaskSet:
                steps.push_back("style " + std::to_string(record.styleMask));
                break;
            case Kind::ReleasedWhenClosedSet:
                steps.push_back(record.flag ? "released when closed" : "kept when closed");
                break;
            case Kind::Centered:
                steps.push_back("centred");
                break;
            case Kind::MadeKeyAndOrderedFront:
                steps.push_back("key and in front" + modelSays());
                break;
            default:
                break;
            }
        });
        desk.application->setObserver([this](const sim::ApplicationRecord& record) {
            if (record.kind == sim::ApplicationRecord::Kind::Activated) {
                steps.push_back(record.flag ? "activated ignoring other apps" : "activated");
            }
        });
    }

    std::vector<std::string> take() { return std::exchange(steps, {}); }
};

TEST(SettingsWindow, IsMadeOnceAndOpensOnFreshSettingsInFront) {
    SimDesk desk;
    desk.addOutput("mbp", "MacBook Pro Speakers", true);
    const auto dell = desk.addOutput("dell", "DELL U2723QE");
    // Nothing has filled the model in yet.
    auto delegate = AppDelegate::create(desk.services());
    delegate->installTap(false);
    WindowSteps window(desk, *delegate->settings);

    delegate->showSettings();
    EXPECT_EQ(window.take(), (std::vector<std::string>{
                                 "made (mbp of 2 outputs, keys active)",
                                 "titled Varnu",
                                 "style 7", // titled, closable, miniaturizable: no resizing
                                 "kept when closed",
                                 "centred",
                                 "activated ignoring other apps",
                                 "key and in front (mbp of 2 outputs, keys active)",
                             }));
    ASSERT_EQ(desk.windows->windows().size(), 1u);
    const auto shown = desk.windows->windows()[0];
    EXPECT_EQ(delegate->settingsWindow, shown);
    EXPECT_TRUE(shown->isVisible());

    // Closed by the user, then asked for again after the output changed.
    shown->close();
    desk.audio->setDefaultOutput(dell);
    delegate->showSettings();
    EXPECT_EQ(window.take(), (std::vector<std::string>{
                                 "activated ignoring other apps",
                                 "key and in front (dell of 2 outputs, keys active)",
                             }));
    EXPECT_EQ(desk.windows->windows().size(), 1u);
    EXPECT_EQ(delegate->settingsWindow, shown);
    EXPECT_TRUE(shown->isVisible());
}

} // namespace
} // namespace varnu
