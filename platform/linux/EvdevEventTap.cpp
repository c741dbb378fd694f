#include "platform/linux/EvdevEventTap.h"

#include "platform/linux/EvdevCapabilities.h"
#include "platform/linux/EvdevDevice.h"
#include "platform/linux/InputDeviceList.h"
#include "platform/linux/InputPermissions.h"
#include "platform/linux/MainQueueCallbackChannel.h"
#include "platform/linux/PermissionsHelp.h"
#include "platform/linux/VolumeKeyFilter.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <libudev.h>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
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
constexpr std::string_view kRemoveAction = "remove";

std::string errorText(int error) {
    return std::generic_category().message(error);
}

class EvdevTap final : public EventTap, private KeyEventSink {
public:
    static std::unique_ptr<EvdevTap> start(std::shared_ptr<MainQueue> mainQueue,
                                           EventTapCallback callback, bool deliversSystemDefined,
                                           std::string uinputPath, std::ostream* diagnostics);
    ~EvdevTap() override;

    void enable(bool enabled) override { filter_->setEnabled(enabled); }

private:
    struct Entry {
        std::unique_ptr<EvdevDevice> device;
        DeviceRole role = DeviceRole::Watch;
        bool grabbed = false;
    };

    EvdevTap(std::string uinputPath, std::ostream* diagnostics)
        : uinputPath_(std::move(uinputPath))
        , diagnostics_(diagnostics) {}

    void emit(InputDeviceId device, const InputEvent& event) override;
    void wake();
    void run();
    void addDevice(const std::string& node);
    void removeDevice(InputDeviceId id);
    void readDevice(InputDeviceId id);
    void grabWhenIdle(Entry& entry);
    void watchOnly(Entry& entry);
    void receiveHotplug();
    void reportOnce(const std::string& key, const std::string& message);

    std::string uinputPath_;
    std::ostream* diagnostics_;
    int wakeFd_ = -1;
    std::atomic<bool> stopping_{false};
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::unique_ptr<MainQueueCallbackChannel> channel_;
    std::unique_ptr<VolumeKeyFilter> filter_;
    // The reader thread's own from here on.
    std::map<InputDeviceId, Entry> devices_;
    InputDeviceId nextId_ = 1;
    std::set<std::string> reported_;
    std::thread thread_;
};

std::unique_ptr<EvdevTap> EvdevTap::start(std::shared_ptr<MainQueue> mainQueue,
                                          EventTapCallback callback, bool deliversSystemDefined,
                                          std::string uinputPath, std::ostream* diagnostics) {
    // Without uinput nothing could be passed on, so nothing is grabbed either.
    int uinput = ::open(uinputPath.c_str(), O_RDWR | O_CLOEXEC);
    if (uinput < 0) {
        return nullptr;
    }
    ::close(uinput);
    std::unique_ptr<EvdevTap> tap(new EvdevTap(std::move(uinputPath), diagnostics));
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
    auto* raw = tap.get();
    tap->channel_ = std::make_unique<MainQueueCallbackChannel>(
        std::move(mainQueue), std::move(callback), [raw] { raw->wake(); });
    KeyEventSink& sink = *tap;
    tap->filter_ = std::make_unique<VolumeKeyFilter>(sink, *tap->channel_, deliversSystemDefined);
    tap->thread_ = std::thread([raw] { raw->run(); });
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
    for (const auto& node : keyEventDevices(udev_)) {
        addDevice(node);
    }
    enum class Source { Wake, Hotplug, Device, Clone };
    std::vector<pollfd> fds;
    std::vector<std::pair<Source, InputDeviceId>> sources;
    while (!stopping_) {
        fds.clear();
        sources.clear();
        fds.push_back({wakeFd_, POLLIN, 0});
        sources.emplace_back(Source::Wake, 0);
        fds.push_back({udev_monitor_get_fd(monitor_), POLLIN, 0});
        sources.emplace_back(Source::Hotplug, 0);
        for (const auto& [id, entry] : devices_) {
            fds.push_back({entry.device->fd(), POLLIN, 0});
            sources.emplace_back(Source::Device, id);
            if (entry.device->cloneFd() >= 0) {
                fds.push_back({entry.device->cloneFd(), POLLIN, 0});
                sources.emplace_back(Source::Clone, id);
            }
        }
        int timeout = -1;
        if (auto deadline = filter_->nextDeadline()) {
            auto wait = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
            timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
        }
        if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            break;
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
        filter_->settle(Clock::now());
    }
    // Whatever ended the loop, no keyboard stays grabbed without a reader.
    while (!devices_.empty()) {
        removeDevice(devices_.begin()->first);
    }
}

void EvdevTap::addDevice(const std::string& node) {
    for (const auto& [id, entry] : devices_) {
        if (entry.device->node() == node) {
            return;
        }
    }
    // A device Varnu may not read is what the trust check reports; nothing more to say here.
    int error = 0;
    auto device = EvdevDevice::open(node, error);
    if (!device) {
        return;
    }
    auto role = classifyDevice(device->evdev());
    if (role == DeviceRole::Ignore) {
        return;
    }
    auto id = nextId_++;
    filter_->resetModifiers(id, heldModifierKeys(device->evdev()));
    auto& entry = devices_[id];
    entry.device = std::move(device);
    entry.role = role;
    if (role != DeviceRole::Grab) {
        return;
    }
    if (int cloneError = entry.device->createClone(uinputPath_); cloneError != 0) {
        reportOnce(node + ":clone", "cannot create a virtual copy of " + entry.device->name() +
                                        ": " + errorText(cloneError));
        watchOnly(entry);
        return;
    }
    grabWhenIdle(entry);
}

void EvdevTap::grabWhenIdle(Entry& entry) {
    // Grabbing while a key is down would leave that key held for everyone else.
    if (entry.role != DeviceRole::Grab || entry.grabbed || anyKeyDown(entry.device->evdev())) {
        return;
    }
    if (int error = entry.device->grab(); error != 0) {
        reportOnce(entry.device->node() + ":grab", "cannot take the volume keys of " +
                                                       entry.device->name() + ": " +
                                                       errorText(error));
        watchOnly(entry);
        return;
    }
    // libevdev knows the keys as of the last read; one pressed since reached the desktop, so its
    // release must too. The next event of this device tries again.
    if (auto keys = entry.device->keyState(); !keys || anyKeyDown(*keys)) {
        entry.device->ungrab();
        return;
    }
    entry.grabbed = true;
}

void EvdevTap::watchOnly(Entry& entry) {
    // The clone would otherwise stay behind as an idle keyboard.
    entry.device->removeClone();
    entry.role = DeviceRole::Watch;
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
    auto& entry = found->second;
    auto result = entry.device->readEvents([&](const InputEvent& event) {
        if (!entry.grabbed) {
            filter_->observe(id, event);
        } else if (event.type != EV_LED) {
            // LED state flows the other way, from the clone to the device.
            filter_->handle(id, event, Clock::now());
        }
    });
    if (result == EvdevDevice::ReadResult::Gone) {
        removeDevice(id);
        return;
    }
    grabWhenIdle(entry);
}

void EvdevTap::receiveHotplug() {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) {
        return;
    }
    const char* action = udev_device_get_action(device);
    const char* node = udev_device_get_devnode(device);
    if (action && std::string_view(action) == kAddAction) {
        if (auto keyNode = keyEventDeviceNode(device); !keyNode.empty()) {
            addDevice(keyNode);
        }
    } else if (action && node && std::string_view(action) == kRemoveAction) {
        std::optional<InputDeviceId> gone;
        for (const auto& [id, entry] : devices_) {
            if (entry.device->node() == node) {
                gone = id;
            }
        }
        if (gone) {
            removeDevice(*gone);
        }
    }
    udev_device_unref(device);
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
    return EvdevTap::start(mainQueue_, std::move(callback), deliversSystemDefined, paths_.uinput,
                           diagnostics_);
}

} // namespace varnu::linux_backend
