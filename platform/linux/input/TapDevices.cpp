#include "platform/linux/input/TapDevices.h"

#include "platform/linux/files/PrintableText.h"

#include <algorithm>
#include <cerrno>
#include <libudev.h>
#include <ostream>
#include <string_view>
#include <system_error>

namespace varnu::linux_backend {
namespace {

constexpr std::string_view kAddAction = "add";
constexpr std::string_view kChangeAction = "change";
constexpr std::string_view kRemoveAction = "remove";
// Set by udev's input rules once it has processed an input device.
constexpr const char* kInputProperty = "ID_INPUT";

bool processedByUdev(udev_device* device) {
    const char* input = udev_device_get_property_value(device, kInputProperty);
    return input && std::string_view(input) == "1";
}

std::string errorText(int error) {
    return std::generic_category().message(error);
}

} // namespace

void OnceReporter::report(const std::string& key, const std::string& message) {
    if (out_ && reported_.insert(key).second) {
        *out_ << "varnu: " << printableText(message) << '\n';
    }
}

TapDevices::TapDevices(TapDeviceSettings settings, TapCallbackChannel& channel,
                       bool deliversSystemDefined, OnceReporter& reporter)
    : settings_(std::move(settings))
    , reporter_(reporter)
    , filter_(std::make_unique<VolumeKeyFilter>(*this, channel, deliversSystemDefined)) {}

TapDevices::~TapDevices() {
    filter_.reset();
    devices_.clear();
}

void TapDevices::emit(InputDeviceId device, const InputEvent& event) {
    if (auto found = devices_.find(device); found != devices_.end()) {
        found->second.device->emit(event);
    }
}

std::vector<TapDevices::Watched> TapDevices::descriptors() const {
    std::vector<Watched> watched;
    for (const auto& [id, entry] : devices_) {
        watched.push_back({entry.device->fd(), id, false, entry.unread});
        if (entry.device->cloneFd() >= 0) {
            watched.push_back({entry.device->cloneFd(), id, true, false});
        }
    }
    return watched;
}

std::optional<TapDevices::Clock::time_point> TapDevices::nextDeadline() const {
    auto deadline = filter_->nextDeadline();
    auto consider = [&](Clock::time_point due) {
        if (!deadline || due < *deadline) {
            deadline = due;
        }
    };
    for (const auto& [id, entry] : devices_) {
        if (entry.grab == GrabState::Pending) {
            consider(nextRetry_);
        } else if (entry.grab == GrabState::AwaitingClone) {
            consider(entry.cloneDeadline);
        }
    }
    return deadline;
}

void TapDevices::settle(Clock::time_point now) {
    filter_->settle(now);
    retryPendingGrabs(now);
    giveUpUnannouncedClones(now);
}

void TapDevices::addAll(udev* context) {
    udev_ = context;
    auto found = keyEventDevices(context);
    // The devices a pass-through copy would be recognised by come first.
    std::stable_partition(found.begin(), found.end(),
                          [](const auto& device) { return !isVirtualDevice(device.syspath); });
    for (const auto& device : found) {
        add(device);
    }
}

void TapDevices::removeAll() {
    while (!devices_.empty()) {
        remove(devices_.begin()->first);
    }
}

std::optional<InputDeviceId> TapDevices::ownerOfClone(const std::string& syspath) const {
    for (const auto& [id, entry] : devices_) {
        const auto& clone = entry.device->cloneSyspath();
        if (!clone.empty() && syspath.starts_with(clone + "/")) {
            return id;
        }
    }
    return std::nullopt;
}

bool TapDevices::copiesHeldDevice(const std::string& syspath, const EvdevDevice& device) const {
    if (!isVirtualDevice(syspath)) {
        return false;
    }
    auto identity = identityOf(device.evdev());
    for (const auto& [id, entry] : devices_) {
        if (!isVirtualDevice(entry.syspath) && identityOf(entry.device->evdev()) == identity) {
            return true;
        }
    }
    return false;
}

std::optional<InputDeviceId> TapDevices::findByNode(const std::string& node) const {
    for (const auto& [id, entry] : devices_) {
        if (entry.device->node() == node) {
            return id;
        }
    }
    return std::nullopt;
}

void TapDevices::add(const KeyEventDevice& found) {
    if (findByNode(found.node) || ownerOfClone(found.syspath)) {
        return;
    }
    // A device Varnu may not read is what the trust check reports; nothing more to say here.
    int error = 0;
    auto device = EvdevDevice::open(found.node, error);
    // Taking another Varnu's clone would clone a clone, and put two taps in a row.
    if (!device || copiesHeldDevice(found.syspath, *device)) {
        return;
    }
    auto role = classifyDevice(device->evdev());
    if (role == DeviceRole::Ignore) {
        return;
    }
    auto id = nextId_++;
    filter_->resetModifiers(id, heldModifierKeys(device->evdev()));
    if (!device->repeatsInKernel()) {
        filter_->repeatHeldKeys(id, device->reportedRepeat().value_or(RepeatRate{}));
    }
    auto& entry = devices_[id];
    entry.device = std::move(device);
    entry.syspath = found.syspath;
    entry.role = role;
    if (role != DeviceRole::Grab) {
        return;
    }
    if (int cloneError = entry.device->createClone(settings_.uinput); cloneError != 0) {
        reporter_.report(found.node + ":clone", "cannot create a virtual copy of " +
                                                    entry.device->name() + ": " +
                                                    errorText(cloneError));
        watchOnly(entry);
        return;
    }
    // Grabbed before the desktop reads the clone, the first keys would reach no one.
    entry.grab = GrabState::AwaitingClone;
    entry.cloneDeadline = Clock::now() + settings_.cloneAnnounceLimit;
}

void TapDevices::cloneAnnounced(InputDeviceId id) {
    auto& entry = devices_.at(id);
    if (entry.grab == GrabState::AwaitingClone) {
        entry.grab = GrabState::None;
        grabWhenIdle(id, entry);
    }
}

void TapDevices::giveUpUnannouncedClones(Clock::time_point now) {
    std::vector<InputDeviceId> due;
    for (const auto& [id, entry] : devices_) {
        if (entry.grab == GrabState::AwaitingClone && now >= entry.cloneDeadline) {
            due.push_back(id);
        }
    }
    for (auto id : due) {
        auto& entry = devices_.at(id);
        // The announcement may have been missed; udev's own record says whether it came.
        udev_device* clone =
            udev_ ? udev_device_new_from_syspath(udev_, entry.device->cloneSyspath().c_str())
                  : nullptr;
        bool processed = clone && processedByUdev(clone);
        if (clone) {
            udev_device_unref(clone);
        }
        if (processed) {
            cloneAnnounced(id);
            continue;
        }
        // A clone the desktop may never open would leave the keyboard dead: it stays the
        // desktop's, with its volume keys.
        reporter_.report(entry.device->node() + ":announce",
                         "cannot take the volume keys of " + entry.device->name() +
                             ": udev did not announce its virtual copy");
        watchOnly(entry);
    }
}

void TapDevices::grabWhenIdle(InputDeviceId id, Entry& entry) {
    // Grabbing while a key is down would leave that key held for everyone else. The kernel's
    // key state counts: a key released while another program held the device was never read.
    if (entry.role != DeviceRole::Grab || entry.grab == GrabState::Grabbed ||
        entry.grab == GrabState::AwaitingClone) {
        return;
    }
    auto kernelKeys = entry.device->keyState();
    if (kernelKeys ? anyKeyDown(*kernelKeys) : anyKeyDown(entry.device->evdev())) {
        markPending(entry);
        if (Clock::now() - entry.pendingSince >= settings_.grabRetryInterval) {
            reporter_.report(entry.device->node() + ":held",
                             "cannot take the volume keys of " + entry.device->name() +
                                 " yet: a key stays held down; trying again");
        }
        return;
    }
    auto since = entry.device->now();
    if (int error = entry.device->grab(); error != 0) {
        if (error == EBUSY) {
            // keyd, input-remapper or evtest holds it; it may let go.
            reporter_.report(entry.device->node() + ":busy",
                             "cannot take the volume keys of " + entry.device->name() +
                                 ": another program holds the keyboard; trying again");
            markPending(entry);
            return;
        }
        reporter_.report(entry.device->node() + ":grab", "cannot take the volume keys of " +
                                                             entry.device->name() + ": " +
                                                             errorText(error));
        watchOnly(entry);
        return;
    }
    entry.grab = GrabState::Grabbed;
    entry.grabbedSince = since;
    entry.heldBeforeGrab.clear();
    // No key was down a moment ago: modifiers the events left held went up unseen. The queued
    // events replay what happened since.
    filter_->resetModifiers(id, {});
    // What is queued now came before or after the grab; only the latter is ours to pass on. A
    // key pressed before it reached the desktop, so its release must too: the next event of
    // this device tries again.
    if (drain(id, entry) && !entry.heldBeforeGrab.empty()) {
        entry.device->ungrab();
        entry.grab = GrabState::None;
        markPending(entry);
    }
}

void TapDevices::markPending(Entry& entry) {
    if (entry.grab != GrabState::Pending) {
        entry.grab = GrabState::Pending;
        entry.pendingSince = Clock::now();
        nextRetry_ = entry.pendingSince + settings_.grabRetryInterval;
    }
}

void TapDevices::retryPendingGrabs(Clock::time_point now) {
    if (now < nextRetry_) {
        return;
    }
    nextRetry_ = now + settings_.grabRetryInterval;
    // A device may vanish while it is tried.
    std::vector<InputDeviceId> pending;
    for (const auto& [id, entry] : devices_) {
        if (entry.grab == GrabState::Pending) {
            pending.push_back(id);
        }
    }
    for (auto id : pending) {
        if (auto found = devices_.find(id); found != devices_.end()) {
            grabWhenIdle(id, found->second);
        }
    }
}

void TapDevices::watchOnly(Entry& entry) {
    // The clone would otherwise stay behind as an idle keyboard.
    entry.device->removeClone();
    entry.role = DeviceRole::Watch;
    entry.grab = GrabState::None;
}

void TapDevices::remove(InputDeviceId id) {
    filter_->removeDevice(id);
    devices_.erase(id);
}

void TapDevices::read(InputDeviceId id) {
    auto found = devices_.find(id);
    if (found == devices_.end()) {
        return;
    }
    if (drain(id, found->second)) {
        grabWhenIdle(id, found->second);
    }
}

void TapDevices::forwardLeds(InputDeviceId id) {
    if (auto found = devices_.find(id); found != devices_.end()) {
        found->second.device->forwardLeds();
    }
}

bool TapDevices::drain(InputDeviceId id, Entry& entry) {
    std::size_t taken = 0;
    auto result = entry.device->readEvents([&](const InputEvent& event, EvdevDevice::Stamp stamp) {
        bool beforeGrab = entry.grab == GrabState::Grabbed && stamp < entry.grabbedSince;
        if (entry.grab != GrabState::Grabbed) {
            filter_->observe(id, event);
        } else if (beforeGrab) {
            if (event.type == EV_KEY) {
                if (event.value == kKeyReleased) {
                    entry.heldBeforeGrab.erase(event.code);
                } else {
                    entry.heldBeforeGrab.insert(event.code);
                }
            }
            filter_->observe(id, event);
        } else if (event.type != EV_LED) {
            // LED state flows the other way, from the clone to the device.
            filter_->handle(id, event, Clock::now());
        }
        // What came before a grab is read whole: the keys it left held decide the grab.
        return ++taken < kEventsPerRound || beforeGrab;
    });
    if (result == EvdevDevice::ReadResult::Gone) {
        remove(id);
        return false;
    }
    entry.unread = result == EvdevDevice::ReadResult::More;
    return true;
}

void TapDevices::follow(udev_device* device) {
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    auto known = node ? findByNode(node) : std::nullopt;
    const char* syspath = udev_device_get_syspath(device);
    auto owner = syspath ? ownerOfClone(syspath) : std::nullopt;
    if (!action) {
        // Nothing to follow.
    } else if (owner) {
        if (std::string_view(action) != kRemoveAction && processedByUdev(device)) {
            cloneAnnounced(*owner);
        }
    } else if (known && std::string_view(action) == kAddAction && syspath &&
               devices_.at(*known).syspath == syspath) {
        // The same device announced again (a rescan, or an add seen after the enumeration that
        // already found it): a new clone would only make the desktop see a keyboard come and go.
    } else if (known && std::string_view(action) == kRemoveAction) {
        remove(*known);
    } else if (std::string_view(action) == kAddAction ||
               std::string_view(action) == kChangeAction) {
        // A change (new key mappings, say) is read afresh, with a new clone; it is also a moment
        // at which a busy device may have come free.
        if (known) {
            remove(*known);
        }
        if (auto found = keyEventDevice(device)) {
            add(*found);
        }
    }
}

} // namespace varnu::linux_backend
