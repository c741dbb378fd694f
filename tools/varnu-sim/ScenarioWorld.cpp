// The scenario world's core: the simulated platform it is built on, and the trace.
// Implements: one trace line per thing Varnu does to the platform (stored settings, audio writes,
// taps, overlay, status item, windows, alerts, links, login item, termination) and per change of
// the settings' information texts; the stored settings, languages, permission and login item the
// world starts with.
// Does not implement: outputs, monitors or the user's actions (ScenarioAudio, ScenarioDisplays,
// ScenarioUser).

#include "tools/varnu-sim/ScenarioWorld.h"

#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <utility>

namespace varnu::sim {

namespace {

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

void ScenarioWorld::watchBackends() {
    world_.defaults->setWriteObserver([this](std::string_view key, const DefaultsValue& value) {
        line("store " + std::string(key) + " = " + defaultsValue(value));
        if (key.starts_with(kVolumeKeyPrefix)) {
            if (const auto level = integerValue(value)) {
                jumps_.stored(std::string(key.substr(kVolumeKeyPrefix.size())), *level);
            }
        }
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

void ScenarioWorld::store(const std::string& key, DefaultsValue value) {
    if (key.starts_with(kVolumeKeyPrefix)) {
        jumps_.put(key.substr(kVolumeKeyPrefix.size()), value, isLaunched());
    }
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

} // namespace varnu::sim
