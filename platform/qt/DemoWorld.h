#pragma once

// The simulated world behind `varnu --demo`: the real interface on a built-in speaker with its
// own volume and a monitor, "Varnu Demo Display", with speakers and DDC/CI. Nothing of the real
// system is read or changed, except the language list from the environment; the settings live
// in memory.
// Implements: the platform bundle of the demo (the Qt front, the simulated audio, registry,
// monitor, event taps and login item, a real "ddc" thread and real pauses); key presses that
// reach the core through the simulated tap as a keyboard's would; the last frames on the
// monitor's bus, collected on the main thread.
// Does not: persist anything.

#include "platform/EventTap.h"
#include "platform/PlatformServices.h"
#include "platform/qt/QtFront.h"
#include "platform/sim/SimAudioHardware.h"
#include "platform/sim/SimEventTaps.h"
#include "platform/sim/SimLoginItem.h"
#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimUserDefaults.h"
#include "platform/sim/SimWorld.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>

namespace varnu::qt {

enum class DemoKey { VolumeDown, VolumeUp, Mute };

struct DemoKeyResult {
    // Nothing when no tap saw the press: it went to the system.
    std::optional<TapDecision> press;
    std::optional<TapDecision> release;
};

class DemoWorld {
public:
    static constexpr const char* kDisplayName = "Varnu Demo Display";
    static constexpr const char* kDisplayUID = "demo-display";
    static constexpr const char* kSpeakersName = "Built-in Speakers";
    static constexpr const char* kSpeakersUID = "demo-speakers";
    static constexpr std::size_t kFrameHistory = 12;

    explicit DemoWorld(const QtFront& front);
    ~DemoWorld();

    DemoWorld(const DemoWorld&) = delete;
    DemoWorld& operator=(const DemoWorld&) = delete;

    const PlatformServices& services() const { return services_; }

    // Presses and releases the key, with Shift and Option held as asked.
    DemoKeyResult press(DemoKey key, bool shift, bool option);

    // The latest transfers on the monitor's bus, oldest first. Main thread.
    const std::deque<sim::I2CTransaction>& frames() const;
    // Runs on the main thread after each transfer.
    void setFrameObserver(std::function<void()> observer);

    const std::shared_ptr<sim::SimMonitor>& monitor() const { return monitor_; }
    const std::shared_ptr<sim::SimEventTaps>& eventTaps() const { return world_.eventTaps; }
    const std::shared_ptr<sim::SimAudioHardware>& audio() const { return world_.audio; }
    const std::shared_ptr<sim::SimUserDefaults>& defaults() const { return world_.defaults; }
    const std::shared_ptr<sim::SimLoginItem>& loginItem() const { return world_.loginItem; }

private:
    struct FrameLog;

    sim::SimWorld world_;
    PlatformServices services_;
    std::shared_ptr<sim::SimMonitor> monitor_;
    std::shared_ptr<FrameLog> frames_;
};

} // namespace varnu::qt
