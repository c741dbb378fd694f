#include "app/AppDelegate.h"
#include "audio/Audio.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsView.h"

namespace varnu {

namespace {

constexpr const char* kSettingsWindowTitle = "Varnu";
constexpr std::uint32_t kSettingsWindowStyle =
    kWindowStyleMaskTitled | kWindowStyleMaskClosable | kWindowStyleMaskMiniaturizable;

// An item that acts when chosen. The texts come in as strings of their own: assigning a
// one-letter C string to a field instead makes GCC 12 at -O2 warn of an overlapping copy inside
// std::string that cannot happen (-Wrestrict).
MenuItem actionItem(std::string title, std::string keyEquivalent, MenuAction action) {
    MenuItem item;
    item.title = std::move(title);
    item.keyEquivalent = std::move(keyEquivalent);
    item.action = std::move(action);
    return item;
}

MenuItem disabledItem(std::string title) {
    MenuItem item;
    item.title = std::move(title);
    item.enabled = false;
    return item;
}

} // namespace

void AppDelegate::menuNeedsUpdate(Menu& menu) {
    const bool german = isGerman();
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    menu.removeAllItems();
    menu.addItem(disabledItem(german ? "Ausgabegerät für die Lautstärketasten"
                                     : "Output device for the volume keys"));

    // The check mark follows the system's default output, not the remembered choice.
    const AudioObjectID defaultID = defaultOutputID();
    const auto outputs = Audio::outputDevices(*services_.audio);
    for (const auto& output : outputs) {
        MenuItem item;
        item.title = output.name;
        item.action = [weak](const MenuItem& sender) {
            if (auto self = weak.lock()) {
                self->selectDevice(sender);
            }
        };
        item.representedObject = output.uid;
        item.checked = output.id == defaultID;
        menu.addItem(std::move(item));
    }
    menu.addItem(MenuItem::separatorItem());

    if (const auto output = currentOutputAmong(outputs)) {
        const std::string& systemName = services_.systemDisplayName;
        if (Audio::hasNativeVolume(*services_.audio, output->id)) {
            menu.addItem(disabledItem(german ? "Steuerung: " + systemName + " (normal)"
                                             : "Control: " + systemName + " (standard)"));
        } else if (monitorFor(output)) {
            const std::string level = std::to_string(volume);
            menu.addItem(disabledItem(german ? "Steuerung: Monitor (DDC) – " + level + " %"
                                             : "Control: monitor (DDC) – " + level + "%"));
        } else {
            menu.addItem(disabledItem(german ? "Dieses Gerät lässt sich nicht steuern"
                                             : "This device cannot be controlled"));
        }
    }

    if (tap && services_.eventTaps->keysTakenElsewhere()) {
        menu.addItem(disabledItem(german ? "Lautstärketasten gehen an ein anderes Programm"
                                         : "Volume keys go to another program"));
    }
    if (!tap) {
        MenuItem permission;
        permission.title =
            german ? "Bedienungshilfen-Zugriff erlauben …" : "Allow Accessibility access…";
        permission.action = [weak](const MenuItem&) {
            if (auto self = weak.lock()) {
                self->openAccessibility();
            }
        };
        menu.addItem(std::move(permission));
    }
    menu.addItem(MenuItem::separatorItem());

    menu.addItem(actionItem(german ? "Einstellungen …" : "Settings…", ",", [weak](const MenuItem&) {
        if (auto self = weak.lock()) {
            self->showSettings();
        }
    }));

    // Quitting is the application's own action, not the delegate's.
    menu.addItem(actionItem(
        german ? "Beenden" : "Quit", "q",
        [application = std::weak_ptr<Application>(services_.application)](const MenuItem&) {
            if (auto app = application.lock()) {
                app->terminate();
            }
        }));
}

void AppDelegate::selectDevice(const MenuItem& sender) {
    if (sender.representedObject) {
        choose(*sender.representedObject);
    }
}

void AppDelegate::showSettings() {
    refreshSettings();
    if (!settingsWindow) {
        auto window = services_.windows->makeWindow(
            SettingsView::create(settings, defaults, services_.languages, services_.mainQueue));
        window->setTitle(kSettingsWindowTitle);
        window->setStyleMask(kSettingsWindowStyle);
        window->setReleasedWhenClosed(false);
        window->center();
        settingsWindow = std::move(window);
    }
    services_.application->activateIgnoringOtherApps(true);
    settingsWindow->makeKeyAndOrderFront();
}

} // namespace varnu
