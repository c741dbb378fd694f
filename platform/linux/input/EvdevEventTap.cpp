#include "platform/linux/input/EvdevEventTap.h"

#include "platform/linux/files/PermissionsHelp.h"
#include "platform/linux/input/EvdevCapabilities.h"
#include "platform/linux/input/EvdevDevice.h"
#include "platform/linux/input/InputDeviceList.h"
#include "platform/linux/input/InputPermissions.h"
#include "platform/linux/input/MainQueueCallbackChannel.h"
#include "platform/linux/input/VolumeKeyFilter.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <libudev.h>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <signal.h>
#include <string_view>
#include <sys/eventfd.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace varnu::linux_backend {
namespace {

using Clock = VolumeKeyFilter::Clock;

constexpr const char* kUdevEvents = "udev";
constexpr const char* kInputSubsystem = "input";
constexpr std::string_view kAddAction = "add";
constexpr std::string_view kChangeAction = "change";
constexpr std::string_view kRemoveAction = "remove";
constexpr std::array kJobControlSignals{SIGTSTP, SIGTTIN, SIGTTOU};

std::string errorText(int error) {
    return std::generic_category().message(error);
}

// Stopped by Ctrl+Z or by reading from its terminal in the background, a process that holds the
// keyboards would leave nothing to type `fg` with.
class JobControlImmunity {
public:
    JobControlImmunity() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        for (std::size_t index = 0; index < kJobControlSignals.size(); ++index) {
            ::sigaction(kJobControlSignals[index], &ignore, &previous_[index]);
        }
    }
    ~JobControlImmunity() {
        for (std::size_t index = 0; index < kJobControlSignals.size(); ++index) {
            ::sigaction(kJobControlSignals[index], &previous_[index], nullptr);
        }
    }
    JobControlImmunity(const JobControlImmunity&) = delete;
    JobControlImmunity& operator=(const JobControlImmunity&) = delete;

private:
    std::array<struct sigaction, kJobControlSignals.size()> previous_{};
};

class EvdevTap final : public EventTap, private KeyEventSink {
public:
    static std::unique_ptr<EvdevTap> start(std::shared_ptr<MainQueue> mainQueue,
                                           EventTapCallback callback, bool deliversSystemDefined,
                                           const EvdevTapPaths& paths, std::ostream* diagnostics);
    ~EvdevTap() override;

    void enable(bool enabled) override;

private:
    // Pending: the grab waits for a key to come up or for another program to let go.
    enum class GrabState { None, Grabbed, Pending };
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
    };

    EvdevTap(const EvdevTapPaths& paths, std::ostream* diagnostics)
        : uinputPath_(paths.uinput)
        , retryInterval_(paths.grabRetryInterval)
        , diagnostics_(diagnostics) {}

    void emit(InputDeviceId device, const InputEvent& event) override;
    void wake();
    void startReader();
    void run();
    bool poll();
    void addAll();
    void removeAll();
    void addDevice(const KeyEventDevice& found);
    void removeDevice(InputDeviceId id);
    void readDevice(InputDeviceId id);
    // False when the device is gone.
    bool drain(InputDeviceId id, Entry& entry);
    void grabWhenIdle(InputDeviceId id, Entry& entry);
    void retryPendingGrabs(Clock::time_point now);
    void markPending(Entry& entry);
    void watchOnly(Entry& entry);
    void receiveHotplug();
    void followSession();
    bool isOwnClone(const std::string& syspath) const;
    std::optional<InputDeviceId> findByNode(const std::string& node) const;
    void reportOnce(const std::string& key, const std::string& message);

    std::string uinputPath_;
    std::chrono::milliseconds retryInterval_;
    std::ostream* diagnostics_;
    JobControlImmunity jobControlImmunity_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> readerFailed_{false};
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<LoginSession> session_;
    std::unique_ptr<MainQueueCallbackChannel> channel_;
    std::unique_ptr<VolumeKeyFilter> filter_;
    // The reader thread's own from here on.
    std::map<InputDeviceId, Entry> devices_;
    InputDeviceId nextId_ = 1;
    bool sessionActive_ = true;
    Clock::time_point nextRetry_{};
    std::set<std::string> reported_;
    std::thread thread_;
};

std::unique_ptr<EvdevTap> EvdevTap::start(std::shared_ptr<MainQueue> mainQueue,
                                          EventTapCallback callback, bool deliversSystemDefined,
                                          const EvdevTapPaths& paths, std::ostream* diagnostics) {
    // Without uinput nothing could be passed on, so nothing is grabbed either.
    int uinput = ::open(paths.uinput.c_str(), O_RDWR | O_CLOEXEC);
    if (uinput < 0) {
        return nullptr;
    }
    ::close(uinput);
    std::unique_ptr<EvdevTap> tap(new EvdevTap(paths, diagnostics));
    tap->wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    tap->udev_ = udev_new();
    if (tap->wakeFd_ < 0 || !tap->udev_) {
        return nullptr;
    }
    tap->monitor_ = udev_monitor_new_from_netlink(tap->udev_, kUdevEvents);
    if (!tap->monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(tap->monitor_, kInputSubsystem, nullptr) <
            0 ||
        udev_monitor_enable_receiving(tap->monitor_) < 0) {
        return nullptr;
    }
    tap->session_ = paths.loginSession ? paths.loginSession() : openLoginSession();
    auto* raw = tap.get();
    tap->channel_ = std::make_unique<MainQueueCallbackChannel>(
        std::move(mainQueue), std::move(callback), [raw] { raw->wake(); });
    KeyEventSink& sink = *tap;
    tap->filter_ = std::make_unique<VolumeKeyFilter>(sink, *tap->channel_, deliversSystemDefined);
    tap->startReader();
    return tap;
}

EvdevTap::~EvdevTap() {
    stopping_ = true;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
    if (channel_) {
        channel_->close();
    }
    // The filter gives up the presses still waiting; then the grabs and clones go.
    filter_.reset();
    devices_.clear();
    if (monitor_) {
        udev_monitor_unref(monitor_);
    }
    if (udev_) {
        udev_unref(udev_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

void EvdevTap::enable(bool enabled) {
    // The core's answer to the switched-off notice after a failed reader: a fresh one.
    if (enabled && readerFailed_) {
        thread_.join();
        readerFailed_ = false;
        startReader();
    }
    filter_->setEnabled(enabled);
}

void EvdevTap::startReader() {
    thread_ = std::thread([this] { run(); });
}

void EvdevTap::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void EvdevTap::emit(InputDeviceId device, const InputEvent& event) {
    if (auto found = devices_.find(device); found != devices_.end()) {
        found->second.device->emit(event);
    }
}

void EvdevTap::run() {
    sessionActive_ = session_->isActive();
    if (sessionActive_) {
        addAll();
    }
    while (!stopping_) {
        if (!poll()) {
            // Whatever ended the reader, no keyboard stays grabbed without one, and the core
            // hears that the tap is off so that it switches it back on.
            removeAll();
            readerFailed_ = true;
            channel_->tell({kCGEventTapDisabledByUserInput, std::nullopt});
            return;
        }
    }
    removeAll();
}

bool EvdevTap::poll() {
    enum class Source { Wake, Hotplug, Session, Device, Clone };
    std::vector<pollfd> fds;
    std::vector<std::pair<Source, InputDeviceId>> sources;
    auto watch = [&](int fd, Source source, InputDeviceId id) {
        fds.push_back({fd, POLLIN, 0});
        sources.emplace_back(source, id);
    };
    watch(wakeFd_, Source::Wake, 0);
    watch(udev_monitor_get_fd(monitor_), Source::Hotplug, 0);
    if (session_->changeFd() >= 0) {
        watch(session_->changeFd(), Source::Session, 0);
    }
    bool pending = false;
    for (const auto& [id, entry] : devices_) {
        watch(entry.device->fd(), Source::Device, id);
        if (entry.device->cloneFd() >= 0) {
            watch(entry.device->cloneFd(), Source::Clone, id);
        }
        pending = pending || entry.grab == GrabState::Pending;
    }
    auto deadline = filter_->nextDeadline();
    if (pending && (!deadline || nextRetry_ < *deadline)) {
        deadline = nextRetry_;
    }
    int timeout = -1;
    if (deadline) {
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
        if (errno == EINTR) {
            return true;
        }
        reportOnce("poll", "stopped reading the keyboards: " + errorText(errno));
        return false;
    }
    for (std::size_t index = 0; index < fds.size() && !stopping_; ++index) {
        auto [source, id] = sources[index];
        auto events = fds[index].revents;
        if (events == 0) {
            continue;
        }
        switch (source) {
        case Source::Wake: {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
            break;
        }
        case Source::Hotplug:
            receiveHotplug();
            break;
        case Source::Session:
            followSession();
            break;
        case Source::Device:
            if (events & POLLIN) {
                readDevice(id);
            } else {
                removeDevice(id);
            }
            break;
        case Source::Clone:
            if (auto found = devices_.find(id); found != devices_.end()) {
                found->second.device->forwardLeds();
            }
            break;
        }
    }
    auto now = Clock::now();
    filter_->settle(now);
    retryPendingGrabs(now);
    return true;
}

void EvdevTap::addAll() {
    for (const auto& found : keyEventDevices(udev_)) {
        addDevice(found);
    }
}

void EvdevTap::removeAll() {
    while (!devices_.empty()) {
        removeDevice(devices_.begin()->first);
    }
}

bool EvdevTap::isOwnClone(const std::string& syspath) const {
    for (const auto& [id, entry] : devices_) {
        const auto& clone = entry.device->cloneSyspath();
        if (!clone.empty() && syspath.starts_with(clone + "/")) {
            return true;
        }
    }
    return false;
}

std::optional<InputDeviceId> EvdevTap::findByNode(const std::string& node) const {
    for (const auto& [id, entry] : devices_) {
        if (entry.device->node() == node) {
            return id;
        }
    }
    return std::nullopt;
}

void EvdevTap::addDevice(const KeyEventDevice& found) {
    if (findByNode(found.node) || isOwnClone(found.syspath)) {
        return;
    }
    // A device Varnu may not read is what the trust check reports; nothing more to say here.
    int error = 0;
    auto device = EvdevDevice::open(found.node, error);
    if (!device) {
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
    if (int cloneError = entry.device->createClone(uinputPath_); cloneError != 0) {
        reportOnce(found.node + ":clone", "cannot create a virtual copy of " +
                                              entry.device->name() + ": " + errorText(cloneError));
        watchOnly(entry);
        return;
    }
    grabWhenIdle(id, entry);
}

void EvdevTap::grabWhenIdle(InputDeviceId id, Entry& entry) {
    // Grabbing while a key is down would leave that key held for everyone else.
    if (entry.role != DeviceRole::Grab || entry.grab == GrabState::Grabbed) {
        return;
    }
    if (anyKeyDown(entry.device->evdev())) {
        markPending(entry);
        if (Clock::now() - entry.pendingSince >= retryInterval_) {
            reportOnce(entry.device->node() + ":held",
                       "cannot take the volume keys of " + entry.device->name() +
                           " yet: a key stays held down; trying again");
        }
        return;
    }
    auto since = entry.device->now();
    if (int error = entry.device->grab(); error != 0) {
        if (error == EBUSY) {
            // keyd, input-remapper or evtest holds it; it may let go.
            reportOnce(entry.device->node() + ":busy",
                       "cannot take the volume keys of " + entry.device->name() +
                           ": another program holds the keyboard; trying again");
            markPending(entry);
            return;
        }
        reportOnce(entry.device->node() + ":grab", "cannot take the volume keys of " +
                                                       entry.device->name() + ": " +
                                                       errorText(error));
        watchOnly(entry);
        return;
    }
    entry.grab = GrabState::Grabbed;
    entry.grabbedSince = since;
    entry.heldBeforeGrab.clear();
    // What is queued now came before or after the grab; only the latter is ours to pass on. A
    // key pressed before it reached the desktop, so its release must too: the next event of
    // this device tries again.
    if (drain(id, entry) && !entry.heldBeforeGrab.empty()) {
        entry.device->ungrab();
        entry.grab = GrabState::None;
        markPending(entry);
    }
}

void EvdevTap::markPending(Entry& entry) {
    if (entry.grab != GrabState::Pending) {
        entry.grab = GrabState::Pending;
        entry.pendingSince = Clock::now();
        nextRetry_ = entry.pendingSince + retryInterval_;
    }
}

void EvdevTap::retryPendingGrabs(Clock::time_point now) {
    if (now < nextRetry_) {
        return;
    }
    nextRetry_ = now + retryInterval_;
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

void EvdevTap::watchOnly(Entry& entry) {
    // The clone would otherwise stay behind as an idle keyboard.
    entry.device->removeClone();
    entry.role = DeviceRole::Watch;
    entry.grab = GrabState::None;
}

void EvdevTap::removeDevice(InputDeviceId id) {
    filter_->removeDevice(id);
    devices_.erase(id);
}

void EvdevTap::readDevice(InputDeviceId id) {
    auto found = devices_.find(id);
    if (found == devices_.end()) {
        return;
    }
    if (drain(id, found->second)) {
        grabWhenIdle(id, found->second);
    }
}

bool EvdevTap::drain(InputDeviceId id, Entry& entry) {
    auto result = entry.device->readEvents([&](const InputEvent& event, EvdevDevice::Stamp stamp) {
        if (entry.grab != GrabState::Grabbed) {
            filter_->observe(id, event);
        } else if (stamp < entry.grabbedSince) {
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
    });
    if (result == EvdevDevice::ReadResult::Gone) {
        removeDevice(id);
        return false;
    }
    return true;
}

void EvdevTap::receiveHotplug() {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) {
        return;
    }
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    auto known = node ? findByNode(node) : std::nullopt;
    const char* syspath = udev_device_get_syspath(device);
    if (!action || !sessionActive_) {
        // Nothing to follow.
    } else if (known && std::string_view(action) == kAddAction && syspath &&
               devices_.at(*known).syspath == syspath) {
        // The same device announced again (a rescan, or an add seen after the enumeration that
        // already found it): a new clone would only make the desktop see a keyboard come and go.
    } else if (known && std::string_view(action) == kRemoveAction) {
        removeDevice(*known);
    } else if (std::string_view(action) == kAddAction ||
               std::string_view(action) == kChangeAction) {
        // A change (new key mappings, say) is read afresh, with a new clone; it is also a moment
        // at which a busy device may have come free.
        if (known) {
            removeDevice(*known);
        }
        if (auto found = keyEventDevice(device)) {
            addDevice(*found);
        }
    }
    udev_device_unref(device);
}

void EvdevTap::followSession() {
    session_->acknowledgeChange();
    bool active = session_->isActive();
    if (active == sessionActive_) {
        return;
    }
    sessionActive_ = active;
    if (active) {
        addAll();
    } else {
        removeAll();
    }
}

void EvdevTap::reportOnce(const std::string& key, const std::string& message) {
    if (diagnostics_ && reported_.insert(key).second) {
        *diagnostics_ << "varnu: " << message << '\n';
    }
}

} // namespace

EvdevEventTapService::EvdevEventTapService(std::shared_ptr<MainQueue> mainQueue,
                                           EvdevTapPaths paths, std::ostream* diagnostics)
    : mainQueue_(std::move(mainQueue))
    , paths_(std::move(paths))
    , diagnostics_(diagnostics) {
    if (paths_.helpPage.empty()) {
        paths_.helpPage = std::string(kPermissionsHelpPage);
    }
}

bool EvdevEventTapService::isProcessTrusted(bool prompt) {
    auto access = checkInputAccess(keyEventDevices(), paths_.uinput, FileAccess::system());
    if (!access.granted() && prompt && !prompted_ && diagnostics_) {
        prompted_ = true;
        *diagnostics_ << "varnu: "
                      << describeMissingAccess(access, paths_.uinput, paths_.helpPage).value_or("")
                      << '\n';
    }
    return access.granted();
}

std::unique_ptr<EventTap> EvdevEventTapService::createTap(std::uint32_t /*location*/,
                                                          std::uint32_t /*placement*/,
                                                          std::uint32_t /*options*/,
                                                          CGEventMask eventsOfInterest,
                                                          EventTapCallback callback) {
    bool deliversSystemDefined = (eventsOfInterest & eventMaskBit(kCGEventSystemDefined)) != 0;
    return EvdevTap::start(mainQueue_, std::move(callback), deliversSystemDefined, paths_,
                           diagnostics_);
}

} // namespace varnu::linux_backend
