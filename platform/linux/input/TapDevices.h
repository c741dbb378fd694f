#pragma once

// The input devices one volume-key tap reads, and the life of each: opened when udev lists or
// announces it, cloned through uinput and grabbed once idle, retried while another program holds
// it or a key is down, read afresh on a change, dropped when it goes.
// Implements: KeyEventSink (a grabbed device's events go out through its clone), the grab
// states and their retries (a device is grabbed only once udev has announced its clone, so that
// the desktop reads the clone before anything goes through it), pass-through copies of other
// programs (another Varnu's clones) left alone, telling events the desktop already received from
// those that are the tap's to pass on, LED changes from a clone back to its device, one report per
// problem. Does not implement: the reader loop that polls the descriptors listed here (TapReader),
// the per-key decisions (VolumeKeyFilter), which devices to take (EvdevCapabilities).

#include "platform/linux/input/EvdevCapabilities.h"
#include "platform/linux/input/EvdevDevice.h"
#include "platform/linux/input/InputDeviceList.h"
#include "platform/linux/input/VolumeKeyFilter.h"

#include <chrono>
#include <cstddef>
#include <iosfwd>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

struct udev;
struct udev_device;

namespace varnu::linux_backend {

// Says each problem once per tap, on the stream given (none: silent), control characters
// escaped. Never a key code.
class OnceReporter {
public:
    explicit OnceReporter(std::ostream* out)
        : out_(out) {}
    void report(const std::string& key, const std::string& message);

private:
    std::ostream* out_;
    std::set<std::string> reported_;
};

struct TapDeviceSettings {
    std::string uinput;
    std::chrono::milliseconds grabRetryInterval;
    // How long a clone may take to be announced by udev before the tap looks for itself.
    std::chrono::milliseconds cloneAnnounceLimit;
};

class TapDevices final : public KeyEventSink {
public:
    using Clock = VolumeKeyFilter::Clock;

    TapDevices(TapDeviceSettings settings, TapCallbackChannel& channel, bool deliversSystemDefined,
               OnceReporter& reporter);
    // The presses still waiting are given up; then the grabs and clones go.
    ~TapDevices() override;

    VolumeKeyFilter& filter() { return *filter_; }

    void addAll(udev* context);
    void removeAll();
    // A udev event of the input subsystem.
    void follow(udev_device* device);

    // How many events of one device a round of the reader takes at most, so that a device that
    // floods events holds no other keyboard up for longer than a round of its own.
    static constexpr std::size_t kEventsPerRound = 64;

    struct Watched {
        int fd;
        InputDeviceId id;
        bool clone;  // the clone's descriptor, where LED changes arrive
        bool unread; // events left over from the last round: to be read without waiting
    };
    std::vector<Watched> descriptors() const;
    // The device's descriptor became readable (or has events left over), or hung up.
    void read(InputDeviceId id);
    void hungUp(InputDeviceId id) { remove(id); }
    void forwardLeds(InputDeviceId id);

    // Goes on with decided presses, repeats and grabs due by now.
    void settle(Clock::time_point now);
    // When settle() must run next even if no descriptor becomes readable.
    std::optional<Clock::time_point> nextDeadline() const;

    void emit(InputDeviceId device, const InputEvent& event) override;

private:
    // AwaitingClone: the grab waits for udev to announce the clone. Pending: it waits for every
    // key to come up or for another program to let go.
    enum class GrabState { None, AwaitingClone, Grabbed, Pending };
    struct Entry {
        std::unique_ptr<EvdevDevice> device;
        std::string syspath;
        DeviceRole role = DeviceRole::Watch;
        GrabState grab = GrabState::None;
        // Events stamped before this reached the desktop from the device itself.
        EvdevDevice::Stamp grabbedSince{};
        // Keys the desktop saw go down just before the grab; their releases must reach it too.
        std::set<std::uint16_t> heldBeforeGrab;
        Clock::time_point pendingSince{};
        Clock::time_point cloneDeadline{};
        bool unread = false;
    };

    void add(const KeyEventDevice& found);
    void remove(InputDeviceId id);
    // False when the device is gone.
    bool drain(InputDeviceId id, Entry& entry);
    void grabWhenIdle(InputDeviceId id, Entry& entry);
    void retryPendingGrabs(Clock::time_point now);
    void markPending(Entry& entry);
    void watchOnly(Entry& entry);
    std::optional<InputDeviceId> ownerOfClone(const std::string& syspath) const;
    void cloneAnnounced(InputDeviceId id);
    void giveUpUnannouncedClones(Clock::time_point now);
    bool copiesHeldDevice(const std::string& syspath, const EvdevDevice& device) const;
    std::optional<InputDeviceId> findByNode(const std::string& node) const;

    TapDeviceSettings settings_;
    OnceReporter& reporter_;
    udev* udev_ = nullptr;
    std::map<InputDeviceId, Entry> devices_;
    std::unique_ptr<VolumeKeyFilter> filter_;
    InputDeviceId nextId_ = 1;
    Clock::time_point nextRetry_{};
};

} // namespace varnu::linux_backend
