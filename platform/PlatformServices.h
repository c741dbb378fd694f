#pragma once

// Everything the core reaches the operating system through, bundled once by a backend and
// handed to the entry point.

#include "platform/Alert.h"
#include "platform/Application.h"
#include "platform/AudioHardware.h"
#include "platform/Dispatch.h"
#include "platform/DisplayEnumerator.h"
#include "platform/EventTap.h"
#include "platform/IORegistry.h"
#include "platform/LoginItem.h"
#include "platform/Overlay.h"
#include "platform/Pause.h"
#include "platform/PreferredLanguages.h"
#include "platform/StatusBar.h"
#include "platform/UserDefaults.h"
#include "platform/Window.h"
#include "platform/Workspace.h"

#include <memory>
#include <string>

namespace varnu {

struct PlatformServices {
    std::shared_ptr<Application> application;
    std::shared_ptr<StatusBar> statusBar;
    std::shared_ptr<UserDefaults> defaults;
    std::shared_ptr<PreferredLanguages> languages;
    std::shared_ptr<AudioHardware> audio;
    // Monitors are found through the display registry where the platform has one, else through
    // the display enumerator. Exactly one of the two is set.
    std::shared_ptr<IORegistry> registry;
    std::shared_ptr<DisplayEnumerator> displays;
    std::shared_ptr<Pause> pause;
    std::shared_ptr<MainQueue> mainQueue;
    SerialQueueFactory makeSerialQueue;
    std::shared_ptr<OverlayFactory> overlays;
    std::shared_ptr<Screens> screens;
    std::shared_ptr<WindowFactory> windows;
    std::shared_ptr<Alerts> alerts;
    std::shared_ptr<Workspace> workspace;
    std::shared_ptr<EventTapService> eventTaps;
    std::shared_ptr<LoginItemService> loginItem;

    // The operating system's name as the interface mentions it ("Linux").
    std::string systemDisplayName = "macOS";
    // The page that explains, or the pane that grants, the permission to tap the volume keys.
    std::string accessibilitySettingsURL =
        "x-apple.systempreferences:com.apple.preference.security?Privacy_Accessibility";
};

} // namespace varnu
