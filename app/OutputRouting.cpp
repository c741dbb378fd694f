#include "app/AppDelegate.h"
#include "app/NameMatching.h"
#include "audio/Audio.h"
#include "ddc/VCP.h"
#include "settings/Lang.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <utility>

namespace varnu {

namespace {

constexpr AudioObjectPropertyAddress kDefaultOutputAddress{
    kAudioHardwarePropertyDefaultOutputDevice, kAudioObjectPropertyScopeGlobal,
    kAudioObjectPropertyElementMain};
constexpr AudioObjectPropertyAddress kDefaultSystemOutputAddress{
    kAudioHardwarePropertyDefaultSystemOutputDevice, kAudioObjectPropertyScopeGlobal,
    kAudioObjectPropertyElementMain};

std::optional<AudioOutput> outputWithUID(const std::vector<AudioOutput>& outputs,
                                         const std::string& uid) {
    for (const auto& output : outputs) {
        if (output.uid == uid) {
            return output;
        }
    }
    return std::nullopt;
}

} // namespace

AudioObjectID AppDelegate::defaultOutputID() {
    // A failed read leaves the unknown id, which matches no device.
    AudioPropertyData data = AudioObjectID{kAudioObjectUnknown};
    services_.audio->getPropertyData(kAudioObjectSystemObject, kDefaultOutputAddress, data);
    if (const auto* id = std::get_if<AudioObjectID>(&data)) {
        return *id;
    }
    return kAudioObjectUnknown;
}

void AppDelegate::makeDefaultOutput(AudioObjectID id) {
    // Alerts and system sounds follow the output the user chose.
    services_.audio->setPropertyData(kAudioObjectSystemObject, kDefaultOutputAddress, id);
    services_.audio->setPropertyData(kAudioObjectSystemObject, kDefaultSystemOutputAddress, id);
}

std::optional<AudioOutput> AppDelegate::currentOutput() {
    return currentOutputAmong(Audio::outputDevices(*services_.audio));
}

std::optional<AudioOutput>
AppDelegate::currentOutputAmong(const std::vector<AudioOutput>& outputs) {
    const AudioObjectID id = defaultOutputID();
    if (id == kAudioObjectUnknown) {
        return std::nullopt;
    }
    for (const auto& output : outputs) {
        if (output.id == id) {
            return output;
        }
    }
    return std::nullopt;
}

std::shared_ptr<DDCMonitor> AppDelegate::ddcMonitor() {
    return monitorFor(currentOutput());
}

std::shared_ptr<DDCMonitor> AppDelegate::monitorFor(const std::optional<AudioOutput>& output) {
    if (monitors.empty()) {
        if (services_.registry) {
            monitors = DDCMonitor::externalMonitors(*services_.registry, services_.pause);
        } else if (services_.displays) {
            monitors = DDCMonitor::externalMonitors(*services_.displays, services_.pause);
        }
    }
    if (output) {
        for (const auto& monitor : monitors) {
            if (!monitor->name().empty() && containsIgnoringCase(output->name, monitor->name())) {
                return monitor;
            }
        }
    }
    return monitors.empty() ? nullptr : monitors.front();
}

std::shared_ptr<DDCMonitor> AppDelegate::monitorInUse(const std::optional<AudioOutput>& output) {
    if (!output || Audio::hasNativeVolume(*services_.audio, output->id)) {
        return nullptr;
    }
    return monitorFor(output);
}

void AppDelegate::displaysChanged() {
    forgetMonitors();
    // The displays there are now, whether or not one plays the current output.
    monitorFor(std::nullopt);
    forgetDepartedMonitors();
    giveBackLeftOverOverlays();
    const auto output = currentOutput();
    const auto monitor = monitorInUse(output);
    const std::string identity = monitor ? monitor->identity() : std::string();
    // In the order of the launch: the level asked for first, then the overlay set.
    if (monitor && identity != levelAskedOf_) {
        readBackLevel(monitor, output->uid);
    }
    if (identity != overlaySetOn_) {
        applyOSD();
    }
    refreshSettings();
}

void AppDelegate::forgetMonitors() {
    monitors.clear();
    // Jobs already queued keep theirs; the next press starts afresh behind them.
    pendingWrites_.clear();
}

std::int64_t AppDelegate::storedLevel(const std::string& uid) {
    if (auto stored = defaults->object(volumeKey(uid))) {
        return integerValue(*stored).value_or(kDefaultVolume);
    }
    return kDefaultVolume;
}

void AppDelegate::loadState() {
    auto output = currentOutput();
    if (!output) {
        return;
    }
    if (output->uid == loadedForUID) {
        setUpReturningMonitor();
        return;
    }
    loadedForUID = output->uid;
    volume = storedLevel(output->uid);
    muted = false;

    if (auto monitor = monitorInUse(output)) {
        readBackLevel(monitor, output->uid);
    }
}

void AppDelegate::applySavedDevice() {
    auto saved = defaults->string(kSelectedDeviceUIDKey);
    if (!saved) {
        return;
    }
    auto output = outputWithUID(Audio::outputDevices(*services_.audio), *saved);
    if (!output || defaultOutputID() == output->id) {
        return;
    }
    makeDefaultOutput(output->id);
}

void AppDelegate::choose(const std::string& uid) {
    auto output = outputWithUID(Audio::outputDevices(*services_.audio), uid);
    if (!output) {
        return;
    }
    defaults->setString(kSelectedDeviceUIDKey, uid);
    makeDefaultOutput(output->id);
    loadState();
    refreshSettings();
}

void AppDelegate::refreshSettings() {
    // One listing serves every step: nothing can change the devices while this runs.
    auto outputs = Audio::outputDevices(*services_.audio);
    const auto output = currentOutputAmong(outputs);
    settings->setDevices(std::move(outputs));
    settings->setSelectedUID(output ? output->uid : std::string());
    settings->setAutostart(services_.loginItem->status() == LoginItemStatus::Enabled);
    // Keys that go to another program outweigh what else could reach the devices.
    const auto elsewhere = tap ? services_.eventTaps->keysTakenElsewhere() : std::nullopt;
    settings->setAccessibilityOK(tap != nullptr && !elsewhere);
    settings->setAccessAdvice(!tap        ? services_.eventTaps->missingAccessAdvice()
                              : elsewhere ? elsewhere
                                          : services_.eventTaps->sharedAccessNotice());

    // Without a current output the line keeps what it said before.
    if (output) {
        const bool german = isGerman();
        const std::string& systemName = services_.systemDisplayName;
        if (Audio::hasNativeVolume(*services_.audio, output->id)) {
            settings->setControlInfo(german
                                         ? "Die Lautstärke regelt " + systemName + " ganz normal."
                                         : systemName + " controls the volume as usual.");
        } else if (monitorFor(output)) {
            const std::string level = std::to_string(volume);
            settings->setControlInfo(
                german ? "Die Lautstärke wird direkt am Monitor geregelt (" + level + " %)."
                       : "The volume is set directly on the monitor (" + level + "%).");
        } else {
            settings->setControlInfo(german ? "Dieses Gerät lässt sich nicht regeln."
                                            : "This device cannot be controlled.");
        }
    }
    if (statusMenu_) {
        statusMenu_->invalidate();
    }
}

} // namespace varnu
