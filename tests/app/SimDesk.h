#pragma once

// A simulated computer for the application core's tests: every backend of the simulated
// platform, bundled the way a real backend bundles its services.

#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "platform/PlatformServices.h"
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

#include <memory>
#include <string>

namespace varnu::testing {

struct SimDesk {
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<sim::SimPause> pause = std::make_shared<sim::SimPause>(scheduler);
    std::shared_ptr<sim::SimApplication> application = std::make_shared<sim::SimApplication>();
    std::shared_ptr<sim::SimStatusBar> statusBar = std::make_shared<sim::SimStatusBar>();
    std::shared_ptr<sim::SimUserDefaults> defaults = std::make_shared<sim::SimUserDefaults>();
    std::shared_ptr<sim::SimPreferredLanguages> languages =
        std::make_shared<sim::SimPreferredLanguages>();
    std::shared_ptr<sim::SimAudioHardware> audio =
        std::make_shared<sim::SimAudioHardware>(scheduler);
    std::shared_ptr<sim::SimRegistry> registry = std::make_shared<sim::SimRegistry>();
    std::shared_ptr<sim::SimOverlayFactory> overlays =
        std::make_shared<sim::SimOverlayFactory>(scheduler);
    std::shared_ptr<sim::SimScreens> screens = std::make_shared<sim::SimScreens>();
    std::shared_ptr<sim::SimWindowFactory> windows = std::make_shared<sim::SimWindowFactory>();
    std::shared_ptr<sim::SimAlerts> alerts = std::make_shared<sim::SimAlerts>();
    std::shared_ptr<sim::SimWorkspace> workspace = std::make_shared<sim::SimWorkspace>();
    std::shared_ptr<sim::SimEventTaps> eventTaps = std::make_shared<sim::SimEventTaps>();
    std::shared_ptr<sim::SimLoginItem> loginItem = std::make_shared<sim::SimLoginItem>();
    std::string systemDisplayName = "macOS";
    std::string accessibilitySettingsURL = "settings:accessibility";

    SimDesk() {
        screens->addScreen(Rect{0, 0, 1920, 1080});
        screens->setMouseLocation(Point{960, 540});
        eventTaps->setTrusted(true);
    }

    PlatformServices services() const {
        PlatformServices services;
        services.application = application;
        services.statusBar = statusBar;
        services.defaults = defaults;
        services.languages = languages;
        services.audio = audio;
        services.registry = registry;
        services.pause = pause;
        services.mainQueue = scheduler;
        services.makeSerialQueue = scheduler->serialQueueFactory();
        services.overlays = overlays;
        services.screens = screens;
        services.windows = windows;
        services.alerts = alerts;
        services.workspace = workspace;
        services.eventTaps = eventTaps;
        services.loginItem = loginItem;
        services.systemDisplayName = systemDisplayName;
        services.accessibilitySettingsURL = accessibilitySettingsURL;
        return services;
    }

    // An output; the first one that can play becomes the system's default.
    AudioObjectID addOutput(const std::string& uid, const std::string& name, bool native = false) {
        sim::SimAudioDevice device;
        device.uid = uid;
        device.name = name;
        device.volume = native ? sim::SimVolumeControl::Main : sim::SimVolumeControl::None;
        const auto id = audio->addDevice(device);
        if (audio->defaultOutput() == kAudioObjectUnknown) {
            audio->setDefaultOutput(id);
        }
        return id;
    }

    std::shared_ptr<sim::SimMonitor> addMonitor(const std::string& productName) {
        auto monitor = sim::SimMonitor::create(scheduler);
        registry->addExternalDisplay(monitor, productName);
        return monitor;
    }

    // The process's start, with everything due at launch done.
    std::shared_ptr<AppDelegate> launch() {
        auto delegate = startApplication(services());
        application->run();
        scheduler->runUntilIdle();
        return delegate;
    }

    static TappedEvent key(std::int64_t keyCode, std::int64_t state = kKeyStateDown,
                           std::uint64_t modifiers = 0) {
        return TappedEvent{kCGEventSystemDefined,
                           SystemDefinedEvent{kNSEventTypeSystemDefined,
                                              kNXSubtypeAuxControlButtons,
                                              keyCode << 16 | state << 8, modifiers}};
    }
};

} // namespace varnu::testing
