#include "tools/varnu-sim/ScenarioWorld.h"

#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <algorithm>
#include <utility>

namespace varnu::sim {

namespace {

constexpr Rect kDefaultScreen{0, 0, 1920, 1080};

std::string keyName(std::int64_t keyCode) {
    switch (keyCode) {
    case kKeyTypeSoundUp:
        return "up";
    case kKeyTypeSoundDown:
        return "down";
    case kKeyTypeMute:
        return "mute";
    default:
        return std::to_string(keyCode);
    }
}

std::string selectorName(AudioObjectPropertySelector selector) {
    std::string name;
    for (int shift = 24; shift >= 0; shift -= 8) {
        name += static_cast<char>((selector >> shift) & 0xFF);
    }
    return name;
}

} // namespace

ScenarioWorld::ScenarioWorld(std::ostream& trace)
    : trace_(trace)
    , scheduler_(SimScheduler::create())
    , pause_(std::make_shared<SimPause>(scheduler_))
    , application_(std::make_shared<SimApplication>())
    , statusBar_(std::make_shared<SimStatusBar>())
    , defaults_(std::make_shared<SimUserDefaults>())
    , languages_(std::make_shared<SimPreferredLanguages>())
    , audio_(std::make_shared<SimAudioHardware>(scheduler_))
    , registry_(std::make_shared<SimRegistry>())
    , overlays_(std::make_shared<SimOverlayFactory>(scheduler_))
    , screens_(std::make_shared<SimScreens>())
    , windows_(std::make_shared<SimWindowFactory>())
    , alerts_(std::make_shared<SimAlerts>())
    , workspace_(std::make_shared<SimWorkspace>())
    , eventTaps_(std::make_shared<SimEventTaps>())
    , loginItem_(std::make_shared<SimLoginItem>())
    , self_(std::make_shared<ScenarioWorld*>(this)) {
    // Unless the scenario says otherwise, the user has granted the permission long ago.
    eventTaps_->setTrusted(true);
    watchBackends();
}

ScenarioWorld::~ScenarioWorld() {
    self_.reset();
    for (auto& entry : monitors_) {
        entry.monitor->setObserver({});
    }
    modelSubscription_.reset();
    delegate_.reset();
}

PlatformServices ScenarioWorld::services() const {
    PlatformServices services;
    services.application = application_;
    services.statusBar = statusBar_;
    services.defaults = defaults_;
    services.languages = languages_;
    services.audio = audio_;
    services.registry = registry_;
    services.pause = pause_;
    services.mainQueue = scheduler_;
    services.makeSerialQueue = scheduler_->serialQueueFactory();
    services.overlays = overlays_;
    services.screens = screens_;
    services.windows = windows_;
    services.alerts = alerts_;
    services.workspace = workspace_;
    services.eventTaps = eventTaps_;
    services.loginItem = loginItem_;
    return services;
}

void ScenarioWorld::line(const std::string& text) {
    trace_ << scheduler_->nowMilliseconds() << ' ' << text << '\n';
}

void ScenarioWorld::settle() {
    scheduler_->runUntilIdle();
}

std::string ScenarioWorld::uidOf(AudioObjectID id) const {
    if (const auto* device = audio_->device(id)) {
        return device->uid;
    }
    return std::to_string(id);
}

void ScenarioWorld::watchBackends() {
    defaults_->setWriteObserver([this](std::string_view key, const DefaultsValue& value) {
        line("store " + std::string(key) + " = " + defaultsValue(value));
    });
    audio_->setWriteObserver([this](const SimAudioWrite& write) {
        line("audio " + selectorName(write.selector) + " = " +
             (write.uid.empty() ? std::to_string(write.device) : write.uid));
    });
    eventTaps_->setObserver([this](const EventTapRecord& record) {
        switch (record.kind) {
        case EventTapRecord::Kind::TrustChecked:
            line(std::string("tap check prompt=") + (record.prompt ? "yes" : "no") + " -> " +
                 (record.trusted ? "trusted" : "untrusted"));
            break;
        case EventTapRecord::Kind::TapRequested:
            line(record.created ? "tap installed" : "tap failed");
            break;
        case EventTapRecord::Kind::TapEnabled:
            line(record.enabled ? "tap reenabled" : "tap disabled");
            break;
        default:
            break;
        }
    });
    overlays_->setObserver([this](const OverlayRecord& record) {
        switch (record.kind) {
        case OverlayRecord::Kind::OrderedFront: {
            const auto& panel = *overlays_->panels().at(record.panel);
            // The overlay is only ever shown with the level and mute state the handler has
            // just stored.
            const std::int64_t level = delegate_ ? delegate_->volume : 0;
            const bool muted = delegate_ && delegate_->muted;
            line("hud show " + std::to_string(level) + " muted=" + (muted ? "1" : "0") + " " +
                 (panel.iconImage() ? panel.iconImage()->symbolName : "none") +
                 " fill=" + number(panel.fillFrame().width) + " at=" + number(panel.origin().x) +
                 "," + number(panel.origin().y));
            break;
        }
        case OverlayRecord::Kind::AnimationStarted:
            line("hud fade");
            break;
        case OverlayRecord::Kind::OrderedOut:
            line("hud hidden");
            break;
        default:
            break;
        }
    });
    statusBar_->setObserver([this](const StatusBarRecord& record) {
        if (record.kind == StatusBarRecord::Kind::ImageSet) {
            line(record.image ? "status-item " + record.image->symbolName + " " +
                                    quoted(record.image->accessibilityDescription)
                              : "status-item none");
        }
    });
    windows_->setObserver([this](const WindowRecord& record) {
        if (record.kind == WindowRecord::Kind::MadeKeyAndOrderedFront) {
            line("window shown " + quoted(record.title));
        }
    });
    alerts_->setObserver([this](const AlertRecord& record) {
        line("alert " + quoted(record.messageText) + " " + quoted(record.informativeText));
    });
    workspace_->setObserver(
        [this](const WorkspaceRecord& record) { line("open-url " + record.url); });
    loginItem_->setObserver([this](const LoginItemRecord& record) {
        line(std::string("login ") +
             (record.kind == LoginItemRecord::Kind::Register ? "register" : "unregister") + " -> " +
             (record.error ? "error" : "ok"));
    });
    application_->setObserver([this](const ApplicationRecord& record) {
        if (record.kind == ApplicationRecord::Kind::Terminated) {
            line("terminated");
        }
    });
}

void ScenarioWorld::watchModel() {
    // The model tells before it changes; the texts are compared once the change is done.
    std::weak_ptr<ScenarioWorld*> weak = self_;
    modelSubscription_ = delegate_->settings->objectWillChange.subscribe([this, weak] {
        if (infoCheckQueued_) {
            return;
        }
        infoCheckQueued_ = true;
        scheduler_->async([weak] {
            if (auto self = weak.lock()) {
                (*self)->infoCheckQueued_ = false;
                (*self)->reportInfoChanges();
            }
        });
    });
}

void ScenarioWorld::reportInfoChanges() {
    if (!delegate_) {
        return;
    }
    const auto& settings = *delegate_->settings;
    if (settings.controlInfo() != reportedControlInfo_) {
        reportedControlInfo_ = settings.controlInfo();
        line("info control " + quoted(reportedControlInfo_));
    }
    if (settings.osdInfo() != reportedOSDInfo_) {
        reportedOSDInfo_ = settings.osdInfo();
        line("info osd " + quoted(reportedOSDInfo_));
    }
}

void ScenarioWorld::addOutput(const std::string& uid, const std::string& name, bool native,
                              std::uint32_t channels) {
    SimAudioDevice device;
    device.uid = uid;
    device.name = name;
    device.outputChannels = {channels};
    device.volume = native ? SimVolumeControl::Main : SimVolumeControl::None;
    const auto id = audio_->addDevice(std::move(device));
    // Like a real system, the first output that can play becomes the default.
    if (audio_->defaultOutput() == kAudioObjectUnknown && channels > 0) {
        audio_->setDefaultOutput(id);
        audio_->setDefaultSystemOutput(id);
    }
    settle();
}

bool ScenarioWorld::unplug(const std::string& uid) {
    const auto id = audio_->idForUID(uid);
    if (!id) {
        return false;
    }
    audio_->removeDevice(*id);
    settle();
    return true;
}

bool ScenarioWorld::setDefaultOutput(const std::string& uid) {
    const auto id = audio_->idForUID(uid);
    if (!id) {
        return false;
    }
    audio_->setDefaultOutput(*id);
    audio_->setDefaultSystemOutput(*id);
    settle();
    return true;
}

void ScenarioWorld::addMonitor(const std::string& productName, const MonitorOptions& options) {
    auto monitor = SimMonitor::create(scheduler_);
    auto volume = monitor->control(kVCPAudioSpeakerVolume).value_or(VCPControl{50, 100});
    volume.current = options.volume.value_or(volume.current);
    volume.maximum = options.maximum.value_or(volume.maximum);
    monitor->setControl(kVCPAudioSpeakerVolume, volume);
    if (options.mute) {
        auto mute = monitor->control(kVCPAudioMute).value_or(VCPControl{kAudioMuteOff, 2});
        mute.current = *options.mute;
        monitor->setControl(kVCPAudioMute, mute);
    }
    if (options.noOSD) {
        monitor->removeControl(kVCPOSD);
    } else if (options.osd) {
        auto osd = monitor->control(kVCPOSD).value_or(VCPControl{kOSDShown, 2});
        osd.current = *options.osd;
        monitor->setControl(kVCPOSD, osd);
    }
    if (options.refuseWrites) {
        monitor->refuseWrites(SimMonitor::kAlways);
    }
    if (options.refuseReads) {
        monitor->refuseReads(SimMonitor::kAlways);
    }

    const std::size_t number = monitors_.size() + 1;
    monitor->setObserver([this, number](const I2CTransaction& transfer) {
        const bool ok = transfer.status == kIOReturnSuccess;
        std::string text = "i2c #" + std::to_string(number) +
                           (transfer.direction == I2CDirection::Write ? " write " : " read ") +
                           hexByte(transfer.chipAddress) + " " + hexByte(transfer.dataAddress);
        if (transfer.direction == I2CDirection::Write) {
            text += " " + hexBytes(transfer.bytes) + (ok ? " -> ok" : " -> refused");
        } else {
            text += ok ? " -> " + hexBytes(transfer.bytes) : " -> refused";
        }
        trace_ << transfer.timeMilliseconds << ' ' << text << '\n';
    });

    if (options.internal) {
        registry_->addFramebuffer(productName, ProductNameShape::Present, monitor);
        registry_->addAVServiceProxy(monitor, SimRegistry::text(kSimInternalLocation));
    } else {
        registry_->addExternalDisplay(monitor, productName);
    }
    monitors_.push_back(Monitor{productName, std::move(monitor), true});
}

bool ScenarioWorld::disconnect(const std::string& productName) {
    auto it = std::find_if(monitors_.rbegin(), monitors_.rend(), [&](const Monitor& entry) {
        return entry.connected && entry.productName == productName;
    });
    if (it == monitors_.rend()) {
        return false;
    }
    registry_->unplug(it->monitor);
    it->monitor->disconnect();
    it->connected = false;
    return true;
}

void ScenarioWorld::store(const std::string& key, DefaultsValue value) {
    defaults_->put(key, std::move(value));
}

void ScenarioWorld::setLanguages(std::vector<std::string> languages) {
    languages_->setPreferredLanguages(std::move(languages));
}

void ScenarioWorld::setTrusted(bool trusted) {
    eventTaps_->setTrusted(trusted);
}

void ScenarioWorld::setLogin(SimLoginItem::Outcome outcome, std::string errorDescription) {
    loginItem_->setOutcome(outcome, std::move(errorDescription));
}

void ScenarioWorld::addScreen(const Rect& frame) {
    screens_->addScreen(frame);
}

void ScenarioWorld::setMouse(Point location) {
    screens_->setMouseLocation(location);
    mouseGiven_ = true;
}

void ScenarioWorld::launch() {
    if (screens_->screens().empty()) {
        addScreen(kDefaultScreen);
    }
    if (!mouseGiven_) {
        const Rect main = screens_->mainScreen().value_or(kDefaultScreen);
        screens_->setMouseLocation(Point{main.midX(), main.y + main.height / 2});
    }
    delegate_ = startApplication(services());
    watchModel();
    application_->run();
    settle();
}

void ScenarioWorld::key(const KeyPress& press) {
    SystemDefinedEvent event;
    event.type = kNSEventTypeSystemDefined;
    event.subtype = kNXSubtypeAuxControlButtons;
    event.data1 = (press.keyCode << 16) | ((press.release ? kKeyStateUp : kKeyStateDown) << 8);
    event.modifierFlags = (press.shift ? kEventModifierFlagShift : 0) |
                          (press.option ? kEventModifierFlagOption : 0) |
                          (press.control ? kEventModifierFlagControl : 0);

    // Without a tap that takes it, the key goes on to the system.
    const auto decision = eventTaps_->deliver(TappedEvent{kCGEventSystemDefined, event});
    std::string text = "key " + keyName(press.keyCode);
    if (press.shift) {
        text += " shift";
    }
    if (press.option) {
        text += " option";
    }
    if (press.control) {
        text += " control";
    }
    if (press.release) {
        text += " release";
    }
    line(text + (decision == TapDecision::Swallow ? " -> swallowed" : " -> passed"));
    settle();
}

void ScenarioWorld::switchTapOff(bool byTimeout) {
    if (byTimeout) {
        eventTaps_->disableByTimeout();
    } else {
        eventTaps_->disableByUserInput();
    }
    settle();
}

void ScenarioWorld::wait(std::chrono::milliseconds duration) {
    scheduler_->advance(duration);
}

void ScenarioWorld::openMenu() {
    const auto items = statusBar_->items().front()->openMenu();
    line("menu");
    for (const auto& item : items) {
        line("  " + menuItem(item));
    }
    settle();
}

bool ScenarioWorld::chooseMenuItem(const std::string& title) {
    auto& item = *statusBar_->items().front();
    // The user opens the menu to choose from it.
    item.openMenu();
    const bool found = item.chooseItem(title);
    settle();
    return found;
}

void ScenarioWorld::showSettings() {
    delegate_->showSettings();
    settle();
    if (windows_->windows().empty()) {
        return;
    }
    line("settings");
    for (const auto& text : viewLines(windows_->windows().back()->body())) {
        line("  " + text);
    }
}

void ScenarioWorld::setStep(std::int64_t step) {
    delegate_->settings->setStep(step);
    settle();
}

void ScenarioWorld::setShowHUD(bool show) {
    delegate_->settings->setShowHUD(show);
    settle();
}

void ScenarioWorld::setHideMonitorOSD(bool hide) {
    delegate_->settings->setHideMonitorOSD(hide);
    settle();
}

void ScenarioWorld::setLanguage(const std::string& language) {
    delegate_->settings->setLanguage(language);
    settle();
}

void ScenarioWorld::selectOutput(const std::string& uid) {
    delegate_->settings->onSelect(uid);
    settle();
}

void ScenarioWorld::setAutostart(bool enabled) {
    delegate_->settings->onAutostart(enabled);
    settle();
}

void ScenarioWorld::openAccessibility() {
    delegate_->settings->onOpenAccessibility();
    settle();
}

void ScenarioWorld::grant() {
    eventTaps_->setTrusted(true);
}

void ScenarioWorld::reopen() {
    const bool visible = std::any_of(windows_->windows().begin(), windows_->windows().end(),
                                     [](const auto& window) { return window->isVisible(); });
    application_->reopen(visible);
    settle();
}

void ScenarioWorld::quit() {
    // The process ends here: nothing that is still queued runs.
    application_->terminate();
}

} // namespace varnu::sim
