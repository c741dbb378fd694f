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

ScenarioWorld::ScenarioWorld(std::ostream& trace, std::string systemName)
    : trace_(trace)
    , systemName_(std::move(systemName))
    , self_(std::make_shared<ScenarioWorld*>(this)) {
    watchBackends();
}

PlatformServices ScenarioWorld::services() const {
    auto services = world_.services();
    if (!systemName_.empty()) {
        services.systemDisplayName = systemName_;
    }
    return services;
}

ScenarioWorld::~ScenarioWorld() {
    self_.reset();
    for (auto& entry : monitors_) {
        entry.monitor->setObserver({});
    }
    modelSubscription_.reset();
    delegate_.reset();
}

void ScenarioWorld::line(const std::string& text) {
    trace_ << world_.scheduler->nowMilliseconds() << ' ' << text << '\n';
}

void ScenarioWorld::settle() {
    world_.scheduler->runUntilIdle();
}

std::string ScenarioWorld::uidOf(AudioObjectID id) const {
    if (const auto* device = world_.audio->device(id)) {
        return device->uid;
    }
    return std::to_string(id);
}

void ScenarioWorld::watchBackends() {
    world_.defaults->setWriteObserver([this](std::string_view key, const DefaultsValue& value) {
        line("store " + std::string(key) + " = " + defaultsValue(value));
    });
    world_.audio->setWriteObserver([this](const SimAudioWrite& write) {
        line("audio " + selectorName(write.selector) + " = " +
             (write.uid.empty() ? std::to_string(write.device) : write.uid));
    });
    world_.eventTaps->setObserver([this](const EventTapRecord& record) {
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
    world_.overlays->setObserver([this](const OverlayRecord& record) {
        switch (record.kind) {
        case OverlayRecord::Kind::OrderedFront: {
            const auto& panel = *world_.overlays->panels().at(record.panel);
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
    world_.statusBar->setObserver([this](const StatusBarRecord& record) {
        if (record.kind == StatusBarRecord::Kind::ImageSet) {
            line(record.image ? "status-item " + record.image->symbolName + " " +
                                    quoted(record.image->accessibilityDescription)
                              : "status-item none");
        }
    });
    world_.windows->setObserver([this](const WindowRecord& record) {
        if (record.kind == WindowRecord::Kind::MadeKeyAndOrderedFront) {
            line("window shown " + quoted(record.title));
        }
    });
    world_.alerts->setObserver([this](const AlertRecord& record) {
        line("alert " + quoted(record.messageText) + " " + quoted(record.informativeText));
    });
    world_.workspace->setObserver(
        [this](const WorkspaceRecord& record) { line("open-url " + record.url); });
    world_.loginItem->setObserver([this](const LoginItemRecord& record) {
        line(std::string("login ") +
             (record.kind == LoginItemRecord::Kind::Register ? "register" : "unregister") + " -> " +
             (record.error ? "error" : "ok"));
    });
    world_.application->setObserver([this](const ApplicationRecord& record) {
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
        world_.scheduler->async([weak] {
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
    const auto id = world_.audio->addDevice(std::move(device));
    // Like a real system, the first output that can play becomes the default.
    if (world_.audio->defaultOutput() == kAudioObjectUnknown && channels > 0) {
        world_.audio->setDefaultOutput(id);
        world_.audio->setDefaultSystemOutput(id);
    }
    settle();
}

bool ScenarioWorld::unplug(const std::string& uid) {
    const auto id = world_.audio->idForUID(uid);
    if (!id) {
        return false;
    }
    world_.audio->removeDevice(*id);
    settle();
    return true;
}

bool ScenarioWorld::setDefaultOutput(const std::string& uid) {
    const auto id = world_.audio->idForUID(uid);
    if (!id) {
        return false;
    }
    world_.audio->setDefaultOutput(*id);
    world_.audio->setDefaultSystemOutput(*id);
    settle();
    return true;
}

void ScenarioWorld::addMonitor(const std::string& productName, const MonitorOptions& options) {
    auto monitor = SimMonitor::create(world_.scheduler);
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
    if (options.corruptReplies) {
        monitor->spoilReplies(ReplyFault::BadChecksum, SimMonitor::kAlways);
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
        world_.registry->addFramebuffer(productName, ProductNameShape::Present, monitor);
        world_.registry->addAVServiceProxy(monitor, SimRegistry::text(kSimInternalLocation));
    } else {
        world_.registry->addExternalDisplay(monitor, productName);
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
    world_.registry->unplug(it->monitor);
    it->monitor->disconnect();
    it->connected = false;
    return true;
}

void ScenarioWorld::store(const std::string& key, DefaultsValue value) {
    world_.defaults->put(key, std::move(value));
}

void ScenarioWorld::setLanguages(std::vector<std::string> languages) {
    world_.languages->setPreferredLanguages(std::move(languages));
}

void ScenarioWorld::setTrusted(bool trusted) {
    world_.eventTaps->setTrusted(trusted);
}

void ScenarioWorld::setLogin(SimLoginItem::Outcome outcome, std::string errorDescription) {
    world_.loginItem->setOutcome(outcome, std::move(errorDescription));
}

void ScenarioWorld::addScreen(const Rect& frame) {
    world_.screens->addScreen(frame);
}

void ScenarioWorld::setMouse(Point location) {
    world_.screens->setMouseLocation(location);
    mouseGiven_ = true;
}

void ScenarioWorld::launch() {
    if (world_.screens->screens().empty()) {
        addScreen(kDefaultScreen);
    }
    if (!mouseGiven_) {
        const Rect main = world_.screens->mainScreen().value_or(kDefaultScreen);
        world_.screens->setMouseLocation(Point{main.midX(), main.y + main.height / 2});
    }
    delegate_ = startApplication(services());
    watchModel();
    world_.application->run();
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
    const auto decision = world_.eventTaps->deliver(TappedEvent{kCGEventSystemDefined, event});
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
        world_.eventTaps->disableByTimeout();
    } else {
        world_.eventTaps->disableByUserInput();
    }
    settle();
}

void ScenarioWorld::wait(std::chrono::milliseconds duration) {
    world_.scheduler->advance(duration);
}

void ScenarioWorld::openMenu() {
    const auto items = world_.statusBar->items().front()->openMenu();
    line("menu");
    for (const auto& item : items) {
        line("  " + menuItem(item));
    }
    settle();
}

bool ScenarioWorld::chooseMenuItem(const std::string& title) {
    auto& item = *world_.statusBar->items().front();
    // The user opens the menu to choose from it.
    item.openMenu();
    const bool found = item.chooseItem(title);
    settle();
    return found;
}

void ScenarioWorld::showSettings() {
    delegate_->showSettings();
    settle();
    if (world_.windows->windows().empty()) {
        return;
    }
    line("settings");
    for (const auto& text : viewLines(world_.windows->windows().back()->body())) {
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
    world_.eventTaps->setTrusted(true);
}

void ScenarioWorld::reopen() {
    const bool visible =
        std::any_of(world_.windows->windows().begin(), world_.windows->windows().end(),
                    [](const auto& window) { return window->isVisible(); });
    world_.application->reopen(visible);
    settle();
}

void ScenarioWorld::quit() {
    // The process ends here: nothing that is still queued runs.
    world_.application->terminate();
}

} // namespace varnu::sim
