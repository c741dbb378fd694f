#pragma once

// A simulated computer for Varnu to run on: audio outputs, monitors on a display registry, a
// user-defaults store, screens, the permission to tap keys, the login item, and a user. It
// writes to the trace what Varnu does, each line starting with the virtual time in
// milliseconds; what the world itself is told to do leaves no line.

#include "app/AppDelegate.h"
#include "platform/PlatformServices.h"
#include "platform/sim/SimLoginItem.h"
#include "platform/sim/SimMonitor.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimWorld.h"
#include "settings/ChangePublisher.h"
#include "tools/varnu-sim/JumpCheck.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace varnu::sim {

struct MonitorOptions {
    bool internal = false;
    std::optional<std::uint16_t> volume;
    std::optional<std::uint16_t> maximum;
    std::optional<std::uint16_t> mute;
    std::optional<std::uint16_t> osd;
    bool noOSD = false;
    bool refuseWrites = false;
    bool refuseReads = false;
    // Every Get VCP Feature reply carries a wrong checksum.
    bool corruptReplies = false;
    // The EDID's UUID the registry gives for it; without one, the name and the place among the
    // monitors of that name tell it from the others.
    std::string edidUUID;
};

struct KeyPress {
    std::int64_t keyCode = 0;
    bool shift = false;
    bool option = false;
    bool control = false;
    bool release = false;
};

class ScenarioWorld {
public:
    // systemName is what Varnu calls the system in its texts ("Linux controls the volume as
    // usual."); empty keeps the simulated platform's own name.
    explicit ScenarioWorld(std::ostream& trace, std::string systemName = {});
    ~ScenarioWorld();

    ScenarioWorld(const ScenarioWorld&) = delete;
    ScenarioWorld& operator=(const ScenarioWorld&) = delete;

    // The world. Changes to the audio devices reach Varnu's listeners like real ones.
    void addOutput(const std::string& uid, const std::string& name, bool native,
                   std::uint32_t channels);
    bool unplug(const std::string& uid);
    bool setDefaultOutput(const std::string& uid);
    // Once Varnu runs, a monitor plugged or unplugged is announced to it as the registry does.
    void addMonitor(const std::string& productName, const MonitorOptions& options);
    // The most recently added monitor of that name that is still connected.
    bool disconnect(const std::string& productName);
    // The user sets the level of that monitor with its own buttons.
    bool turn(const std::string& productName, std::uint16_t level);
    void store(const std::string& key, DefaultsValue value);
    void setLanguages(std::vector<std::string> languages);
    void setTrusted(bool trusted);
    void setLogin(SimLoginItem::Outcome outcome, std::string errorDescription);
    // The first screen is the main screen.
    void addScreen(const Rect& frame);
    void setMouse(Point location);

    // Varnu and its user. Each action ends with everything that is due at that moment done.
    bool isLaunched() const { return delegate_ != nullptr; }
    bool hasQuit() const { return world_.application->isTerminated(); }
    void launch();
    void key(const KeyPress& press);
    // The system switches the tap off, by timeout or because of user input.
    void switchTapOff(bool byTimeout);
    void wait(std::chrono::milliseconds duration);
    void openMenu();
    bool chooseMenuItem(const std::string& title);
    void showSettings();
    void setStep(std::int64_t step);
    void setShowHUD(bool show);
    void setHideMonitorOSD(bool hide);
    void setLanguage(const std::string& language);
    void selectOutput(const std::string& uid);
    void setAutostart(bool enabled);
    void openAccessibility();
    void grant();
    void reopen();
    void quit();

    // A key that made a monitor jump since the last call, as the check describes it.
    std::optional<std::string> takeJump() { return jumps_.takeJump(); }

    // For tests that look behind the trace.
    const std::shared_ptr<SimScheduler>& scheduler() const { return world_.scheduler; }
    const std::shared_ptr<AppDelegate>& delegate() const { return delegate_; }
    const std::shared_ptr<SimMonitor>& monitor(std::size_t number) const {
        return monitors_.at(number - 1).monitor;
    }
    PlatformServices services() const;

private:
    struct Monitor {
        std::string productName;
        std::shared_ptr<SimMonitor> monitor;
        MonitorOptions options;
        bool connected = true;
    };

    Monitor* connectedMonitor(const std::string& productName);
    // The connected monitor Varnu knows by that identity, when only one is.
    std::optional<JumpCheck::Target> monitorNamed(const std::string& identity);
    void line(const std::string& text);
    void settle();
    void watchModel();
    void reportInfoChanges();
    void watchBackends();

    std::ostream& trace_;
    std::string systemName_;
    SimWorld world_;
    std::vector<Monitor> monitors_;
    bool mouseGiven_ = false;
    JumpCheck jumps_;

    std::shared_ptr<AppDelegate> delegate_;
    ChangePublisher::Subscription modelSubscription_;
    bool infoCheckQueued_ = false;
    std::string reportedControlInfo_;
    std::string reportedOSDInfo_;
    // Queued checks hold this weakly, so that none runs once the world is gone.
    std::shared_ptr<ScenarioWorld*> self_;
};

} // namespace varnu::sim
