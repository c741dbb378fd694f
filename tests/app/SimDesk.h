#pragma once

// A simulated computer for the application core's tests: the simulated world with one screen and
// the mouse on it, and shorthands for outputs, monitors and key presses.

#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "platform/PlatformServices.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimWorld.h"

#include <memory>
#include <string>

namespace varnu::testing {

struct SimDesk : sim::SimWorld {
    std::string systemDisplayName = "macOS";
    std::string accessibilitySettingsURL = "settings:accessibility";

    explicit SimDesk(sim::SimDispatch dispatch = {})
        : SimWorld(std::move(dispatch)) {
        screens->addScreen(Rect{0, 0, 1920, 1080});
        screens->setMouseLocation(Point{960, 540});
    }

    PlatformServices services() const {
        auto services = SimWorld::services();
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

    // The monitor most tests use, on its own output, remembered as the user's choice.
    std::shared_ptr<sim::SimMonitor> addRememberedDell() {
        addOutput("dell", "DELL U2723QE");
        defaults->put("selectedDeviceUID", std::string("dell"));
        return addMonitor("DELL U2723QE");
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
