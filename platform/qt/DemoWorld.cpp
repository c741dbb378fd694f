#include "platform/qt/DemoWorld.h"

#include "platform/SleepingPause.h"
#include "platform/ThreadSerialQueue.h"
#include "platform/linux/desktop/LocaleLanguages.h"
#include "platform/linux/input/VolumeKeyEvents.h"
#include "platform/qt/LinuxServices.h"
#include "settings/Lang.h"

#include <chrono>

namespace varnu::qt {

struct DemoWorld::FrameLog {
    std::deque<sim::I2CTransaction> frames;
    std::function<void()> observer;
};

namespace {

std::uint16_t evdevCode(DemoKey key) {
    switch (key) {
    case DemoKey::VolumeDown:
        return KEY_VOLUMEDOWN;
    case DemoKey::VolumeUp:
        return KEY_VOLUMEUP;
    case DemoKey::Mute:
        return KEY_MUTE;
    }
    return KEY_MUTE;
}

} // namespace

DemoWorld::DemoWorld(const QtFront& front)
    : world_(sim::SimDispatch{
          front.mainQueue,
          [](const std::string& label) { return std::make_shared<ThreadSerialQueue>(label); },
          std::make_shared<SleepingPause>()})
    , frames_(std::make_shared<FrameLog>()) {
    const auto start = std::chrono::steady_clock::now();
    monitor_ = sim::SimMonitor::create([start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
                   std::chrono::steady_clock::now() - start)
            .count();
    });
    // The bus is driven from the "ddc" thread: copies of its frames go to the main thread.
    monitor_->setObserver([mainQueue = front.mainQueue, log = std::weak_ptr<FrameLog>(frames_)](
                              const sim::I2CTransaction& transaction) {
        mainQueue->async([log, transaction] {
            auto frames = log.lock();
            if (!frames) {
                return;
            }
            frames->frames.push_back(transaction);
            while (frames->frames.size() > kFrameHistory) {
                frames->frames.pop_front();
            }
            if (frames->observer) {
                frames->observer();
            }
        });
    });

    sim::SimAudioDevice speakers;
    speakers.uid = kSpeakersUID;
    speakers.name = kSpeakersName;
    speakers.volume = sim::SimVolumeControl::Main;
    world_.audio->addDevice(speakers);
    sim::SimAudioDevice display;
    display.uid = kDisplayUID;
    display.name = kDisplayName;
    const auto displayID = world_.audio->addDevice(display);
    world_.audio->setDefaultOutput(displayID);
    world_.audio->setDefaultSystemOutput(displayID);
    world_.registry->addExternalDisplay(monitor_, kDisplayName);

    services_ = world_.services();
    front.fill(services_);
    services_.languages = std::make_shared<linux_backend::LocaleLanguages>();
    services_.systemDisplayName = "Linux";
    services_.accessibilitySettingsURL = permissionsHelpURL();
    front.statusBar->setLanguageRule(
        [defaults = services_.defaults, languages = services_.languages] {
            return Lang::isGerman(*defaults, *languages);
        });
}

DemoWorld::~DemoWorld() {
    monitor_->setObserver({});
}

DemoKeyResult DemoWorld::press(DemoKey key, bool shift, bool option) {
    using namespace linux_backend;
    std::uint64_t modifiers = 0;
    if (shift) {
        modifiers |= kShiftModifierFlag;
    }
    if (option) {
        modifiers |= kAlternateModifierFlag;
    }
    DemoKeyResult result;
    const auto code = evdevCode(key);
    result.press = world_.eventTaps->deliver(
        TappedEvent{kCGEventSystemDefined, systemDefinedEvent(code, kKeyPressed, modifiers)});
    result.release = world_.eventTaps->deliver(
        TappedEvent{kCGEventSystemDefined, systemDefinedEvent(code, kKeyReleased, modifiers)});
    return result;
}

const std::deque<sim::I2CTransaction>& DemoWorld::frames() const {
    return frames_->frames;
}

void DemoWorld::setFrameObserver(std::function<void()> observer) {
    frames_->observer = std::move(observer);
}

} // namespace varnu::qt
