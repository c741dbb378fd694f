#include "app/AppDelegate.h"
#include "audio/Audio.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <chrono>

namespace varnu {

namespace {

constexpr const char* kStatusSymbol = "speaker.wave.2.fill";
constexpr std::chrono::milliseconds kTimerInterval{2000};

constexpr AudioObjectPropertyAddress kDeviceListAddress{kAudioHardwarePropertyDevices,
                                                        kAudioObjectPropertyScopeGlobal,
                                                        kAudioObjectPropertyElementMain};

} // namespace

void AppDelegate::installSettingsCallbacks() {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();
    settings->onHideOSD = [weak] {
        if (auto self = weak.lock()) {
            self->applyOSD();
        }
    };
    settings->onLanguage = [weak] {
        if (auto self = weak.lock()) {
            self->refreshSettings();
        }
        if (auto self = weak.lock()) {
            self->applyOSD();
        }
    };
    settings->onSelect = [weak](const std::string& uid) {
        if (auto self = weak.lock()) {
            self->choose(uid);
        }
    };
    settings->onAutostart = [weak](bool enabled) {
        if (auto self = weak.lock()) {
            self->setAutostart(enabled);
        }
    };
    settings->onOpenAccessibility = [weak] {
        if (auto self = weak.lock()) {
            self->openAccessibility();
        }
    };
}

void AppDelegate::applicationDidFinishLaunching() {
    const std::weak_ptr<AppDelegate> weak = weak_from_this();

    // Some status areas give an item nothing to draw into; the menu still works there.
    if (auto* button = statusItem ? statusItem->button() : nullptr) {
        button->setImage(SymbolImage{kStatusSymbol, isGerman() ? "Lautstärke" : "Volume"});
    }

    statusMenu_ = std::make_shared<Menu>();
    statusMenu_->setDelegate(weak);
    if (statusItem) {
        statusItem->setMenu(statusMenu_);
    }

    installSettingsCallbacks();
    applySavedDevice();

    // A monitor plugged, unplugged or swapped comes and goes with its audio device; forgetting
    // the monitors then makes the next use find the ones that are there now. Registered first,
    // so that it runs before the reaction to the same change below.
    services_.audio->addPropertyListener(kAudioObjectSystemObject, kDeviceListAddress, [weak] {
        if (auto self = weak.lock()) {
            self->forgetMonitors();
        }
    });
    // Displays also change without the audio devices: a monitor that answers only after
    // launch, or another one on the same output.
    const auto displaysChanged = [weak] {
        if (auto self = weak.lock()) {
            self->displaysChanged();
        }
    };
    if (services_.displays) {
        services_.displays->setChangeHandler(displaysChanged);
    } else if (services_.registry) {
        services_.registry->setChangeHandler(displaysChanged);
    }
    Audio::observeChanges(*services_.audio, [weak] {
        if (auto self = weak.lock()) {
            self->applySavedDevice();
        }
        if (auto self = weak.lock()) {
            self->loadState();
        }
        if (auto self = weak.lock()) {
            self->refreshSettings();
        }
    });

    loadState();
    recallHiddenOverlays();
    applyOSD();

    // A remembered output means Varnu has been set up before; only then may the system ask
    // for the permission right away. The first run shows the settings window instead.
    const bool firstRun = !defaults->string(kSelectedDeviceUIDKey).has_value();
    installTap(!firstRun);
    refreshSettings();

    timer_ = services_.mainQueue->scheduleRepeatingTimer(kTimerInterval, [weak] {
        if (auto self = weak.lock()) {
            self->timerTick();
        }
    });

    if (firstRun) {
        showSettings();
    }
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
    showSettings();
    return true;
}

void AppDelegate::applicationWillTerminate() {
    restoreOSD();
}

} // namespace varnu
