#pragma once

// The one coordinator of the application: it owns every long-lived object, answers the
// application's launch, reopen and termination calls, builds the status menu, and decides what
// happens to each volume key. Everything here runs on the main thread; DDC/CI runs on the "ddc"
// queue, whose jobs carry copies and hold the delegate weakly.

#include "app/OverlayGiveBacks.h"
#include "app/PendingMonitorWrites.h"
#include "app/VolumeKeys.h"
#include "audio/AudioOutput.h"
#include "ddc/DDCMonitor.h"
#include "platform/Application.h"
#include "platform/Dispatch.h"
#include "platform/EventTap.h"
#include "platform/Menu.h"
#include "platform/PlatformServices.h"
#include "platform/StatusBar.h"
#include "platform/UserDefaults.h"
#include "platform/Window.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace varnu {

class HUD;
class SettingsModel;

constexpr std::int64_t kInitialVolume = 50;
// How long quitting waits for the monitor to take its own overlay back before it gives up.
constexpr std::chrono::milliseconds kTerminationWriteTimeout{2000};
// The most monitors whose overlay is remembered as hidden; the oldest goes first.
constexpr std::size_t kMaxHiddenOverlays = 16;
// How long the level Varnu knows of a monitor holds once it stops talking to it: the monitor's
// own buttons may have moved it since, so the first key after a longer quiet reads it again.
constexpr std::chrono::milliseconds kQuietPeriod{10'000};

class AppDelegate final : public ApplicationDelegate,
                          public MenuDelegate,
                          public std::enable_shared_from_this<AppDelegate> {
public:
    // Construction only gathers the long-lived objects; the launch sequence does the rest.
    static std::shared_ptr<AppDelegate> create(PlatformServices services);
    ~AppDelegate() override;

    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    // Launch, reopen, termination.
    void applicationDidFinishLaunching() override;
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
    void applicationWillTerminate() override;

    // Output routing and volume state.
    std::optional<AudioOutput> currentOutput();
    std::shared_ptr<DDCMonitor> ddcMonitor();
    void loadState();
    void applySavedDevice();
    void choose(const std::string& uid);
    void refreshSettings();

    // Volume-key dispatch: true when the event has been dealt with and must be swallowed.
    bool handle(const TappedEvent& event);

    // Event tap and permission.
    void installTap(bool prompt);
    void timerTick();
    void openAccessibility();

    // The monitor's own overlay.
    void applyOSD();
    void restoreOSD();
    // The display list changed: the monitors are found again, a monitor that left leaves no
    // claim behind, and the one that plays the current output, when it is another than before,
    // is set up as at launch.
    void displaysChanged();

    // Status menu and settings window.
    void menuNeedsUpdate(Menu& menu) override;
    void selectDevice(const MenuItem& sender);
    void showSettings();

    void setAutostart(bool enabled);

    // The status menu attached at launch; null before.
    const std::shared_ptr<Menu>& statusMenu() const { return statusMenu_; }

private:
    explicit AppDelegate(PlatformServices services);

    bool isGerman();
    // The id of the system's default output; 0 when it cannot be read.
    AudioObjectID defaultOutputID();
    // The current output found in a listing the caller already has.
    std::optional<AudioOutput> currentOutputAmong(const std::vector<AudioOutput>& outputs);
    // The monitor that plays the output: discovery when none is known, then the named match,
    // else the first monitor.
    std::shared_ptr<DDCMonitor> monitorFor(const std::optional<AudioOutput>& output);
    // The monitor that plays the output, unless the output controls its own volume.
    std::shared_ptr<DDCMonitor> monitorInUse(const std::optional<AudioOutput>& output);
    void makeDefaultOutput(AudioObjectID id);
    void forgetMonitors();
    // The level stored for the output, or the default.
    std::int64_t storedLevel(const std::string& uid);

    // A reading of a monitor's level on its way back from the "ddc" queue.
    struct LevelReading {
        std::uint64_t ticket = 0;
        std::string uid;
        std::shared_ptr<DDCMonitor> monitor;
        // The monitor left the list since: what it answers is no longer what it plays.
        bool departed = false;
    };
    // Asks the monitor that plays the output for its level.
    void readBackLevel(const std::shared_ptr<DDCMonitor>& monitor, const std::string& uid);
    // Whether the latest reading asked for is on its way, and for that output and monitor.
    bool awaitingReading(const std::string& uid, const std::string& identity) const;
    // The answer to a reading, on the main thread: taken only when the output it was asked for is
    // still the current one and the same monitor plays it; the answer to the latest reading then
    // lets the keys that waited for it step from it.
    void levelRead(std::uint64_t ticket, std::optional<std::int64_t> level);
    // Varnu knows the level the monitor plays, and keeps trusting it for the quiet period.
    void levelKnown(const std::string& identity);
    // Sets up the monitor that plays the current output as at launch, when Varnu knows nothing
    // of its level: its level asked for, its overlay set when it was set on another.
    void setUpReturningMonitor();
    // A monitor that is no longer listed leaves no claim on its level behind: when it comes back,
    // its level is read again.
    void forgetDepartedMonitors();

    // The keys in turn, each stepping from the state before it: stored, sent to the monitor, and
    // when the output is still the current one, taken as its state and shown.
    void sendKeys(const std::string& uid, const std::shared_ptr<DDCMonitor>& monitor,
                  std::span<const VolumeKeyPress> keys, VolumeState state, bool current);

    // Keeps track, by identity and in the store, of the monitors whose own overlay Varnu has
    // switched off and not yet got back.
    void noteOSDHidden(const std::shared_ptr<DDCMonitor>& monitor);
    // A monitor whose own overlay is hidden, and the give-back on its way to it, if any.
    struct HiddenOverlay {
        std::string identity;
        std::uint64_t givingBack = 0;
    };
    HiddenOverlay* hiddenOverlayOf(const std::string& identity);
    // The ticket a give-back of the monitor's overlay carries to the "ddc" queue; 0 when the
    // monitor is not recorded.
    std::uint64_t noteOSDGivingBack(const std::shared_ptr<DDCMonitor>& monitor);
    // Writes 0xCA = 2 on the "ddc" queue and tells how it went.
    void queueGiveBack(const std::shared_ptr<DDCMonitor>& monitor);
    // Strikes from the record the monitors that took their give-back, and owes again those that
    // refused it.
    void settleGiveBacks();
    void recordHiddenOverlays();
    // Gives the overlay back to the monitors an earlier run left hidden, where they should no
    // longer be: hiding switched off, or the monitor no longer the one in use.
    void giveBackLeftOverOverlays();
    // Reads the record an earlier run left, then gives back what it can.
    void recallHiddenOverlays();
    // Hands a key press's writes to the monitor's pending writes, queueing the job that sends
    // them when none is waiting.
    void queueMonitorWrites(const std::shared_ptr<DDCMonitor>& monitor,
                            const std::vector<VCPWrite>& writes);
    void installSettingsCallbacks();

    // What the delegate reaches the system through; set once, never replaced.
    const PlatformServices services_;

public:
    // The application's state, in the order it is built.
    const std::shared_ptr<StatusItem> statusItem;
    const std::shared_ptr<UserDefaults> defaults;
    const std::shared_ptr<HUD> hud;
    const std::shared_ptr<SerialQueue> ddcQueue;
    const std::shared_ptr<SettingsModel> settings;
    std::shared_ptr<Window> settingsWindow;
    std::unique_ptr<EventTap> tap;
    std::vector<std::shared_ptr<DDCMonitor>> monitors;
    std::int64_t volume = kInitialVolume;
    bool muted = false;
    std::string loadedForUID;
    // Told of each key as it is sent to the monitor, with the state it leads to, before that is
    // stored; the simulator checks with it that no key makes a monitor jump.
    std::function<void(const DDCMonitor& monitor, const std::string& uid, VolumeKeyPress key,
                       VolumeState state)>
        onKeySent;

private:
    std::shared_ptr<Menu> statusMenu_;
    std::shared_ptr<Cancellable> timer_;
    // The monitors whose overlay is hidden, oldest first; kept when the monitors are forgotten: a
    // monitor that stopped being routed still gets its overlay back at quit.
    std::vector<HiddenOverlay> osdHiddenOn_;
    std::uint64_t giveBacksQueued_ = 0;
    const std::shared_ptr<OverlayGiveBacks> giveBacks_ = std::make_shared<OverlayGiveBacks>();
    // Those an earlier run left hidden that have not been seen since.
    std::vector<std::string> leftOverHidden_;
    // The monitor the overlay was last set on, and the latest setting, whose outcome alone is
    // shown.
    std::string overlaySetOn_;
    std::uint64_t overlaySettings_ = 0;
    // The monitor whose level Varnu asked for or set, whether it still trusts that level, and
    // the readings on their way, oldest first.
    std::string levelAskedOf_;
    bool levelTrusted_ = false;
    std::shared_ptr<Cancellable> quietTimer_;
    std::vector<LevelReading> readings_;
    std::uint64_t readingsAsked_ = 0;
    // Keys pressed while the latest reading is on its way, and the mute state before them; they
    // step from its answer.
    std::vector<VolumeKeyPress> waitingKeys_;
    bool mutedBeforeWaitingKeys_ = false;
    // One per monitor a key has been sent to since the monitors were last found.
    std::vector<std::shared_ptr<PendingMonitorWrites>> pendingWrites_;
};

// The process's start: an accessory application with its delegate, then the event loop.
// Answers the exit status once the loop has returned.
int runApplication(PlatformServices services);

// The steps of the start that come before the event loop; the delegate returned is the one the
// application was given and must be kept alive by the caller while the loop runs.
std::shared_ptr<AppDelegate> startApplication(const PlatformServices& services);

} // namespace varnu
