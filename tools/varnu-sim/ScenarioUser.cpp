// What the scenario's user does to Varnu: launching it, pressing keys, using the menu and the
// settings, quitting; and the system's own part in it (a tap switched off, time going by).
// Implements: each action as the platform would deliver it, ending with everything due at that
// moment done; the keys' lines in the trace.
// Does not implement: what Varnu answers with: the backends' observers write that.

#include "app/VolumeKeys.h"
#include "settings/SettingsModel.h"
#include "tools/varnu-sim/ScenarioWorld.h"
#include "tools/varnu-sim/TraceFormat.h"

#include <algorithm>

namespace varnu::sim {

namespace {

constexpr Rect kDefaultScreen{0, 0, 1920, 1080};

} // namespace

void ScenarioWorld::launch() {
    if (world_.screens->screens().empty()) {
        addScreen(kDefaultScreen);
    }
    if (!mouseGiven_) {
        const Rect main = world_.screens->mainScreen().value_or(kDefaultScreen);
        world_.screens->setMouseLocation(Point{main.midX(), main.y + main.height / 2});
    }
    delegate_ = startApplication(services());
    delegate_->onKeySent = [this](const DDCMonitor& monitor, const std::string& uid,
                                  VolumeKeyPress key, VolumeState state) {
        jumps_.sent(monitorNamed(monitor.identity()), uid, key.keyCode, key.step, state.level,
                    world_.scheduler->nowMilliseconds());
    };
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
    // After "Quit" the process has ended: nothing that is still queued runs.
    if (!hasQuit()) {
        settle();
    }
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
