#include "platform/linux/input/TapReader.h"

#include <cerrno>
#include <libudev.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace varnu::linux_backend {
namespace {

constexpr const char* kUdevEvents = "udev";
constexpr const char* kInputSubsystem = "input";

} // namespace

std::unique_ptr<TapReader> TapReader::create(std::unique_ptr<LoginSession> session,
                                             OnceReporter& reporter) {
    std::unique_ptr<TapReader> reader(new TapReader(std::move(session), reporter));
    reader->wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    reader->udev_ = udev_new();
    if (reader->wakeFd_ < 0 || !reader->udev_) {
        return nullptr;
    }
    reader->monitor_ = udev_monitor_new_from_netlink(reader->udev_, kUdevEvents);
    if (!reader->monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(reader->monitor_, kInputSubsystem,
                                                        nullptr) < 0 ||
        udev_monitor_enable_receiving(reader->monitor_) < 0) {
        return nullptr;
    }
    return reader;
}

TapReader::~TapReader() {
    stopping_ = true;
    if (thread_.joinable()) {
        wake();
        thread_.join();
    }
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

void TapReader::start(TapDevices& devices, std::function<void()> onFailure) {
    if (thread_.joinable()) {
        thread_.join();
    }
    failed_ = false;
    thread_ = std::thread(
        [this, &devices, onFailure = std::move(onFailure)] { run(devices, onFailure); });
}

void TapReader::wake() {
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(wakeFd_, &one, sizeof one);
}

void TapReader::run(TapDevices& devices, const std::function<void()>& onFailure) {
    sessionActive_ = session_->isActive();
    if (sessionActive_) {
        devices.addAll(udev_);
    }
    while (!stopping_) {
        if (!poll(devices)) {
            // Whatever ended the reader, no keyboard stays grabbed without one.
            devices.removeAll();
            failed_ = true;
            onFailure();
            return;
        }
    }
    devices.removeAll();
}

bool TapReader::poll(TapDevices& devices) {
    enum class Source { Wake, Hotplug, Session, Device, Clone };
    struct Polled {
        Source source;
        InputDeviceId id;
        bool unread;
    };
    std::vector<pollfd> fds;
    std::vector<Polled> sources;
    auto watch = [&](int fd, Source source, InputDeviceId id, bool unread = false) {
        fds.push_back({fd, POLLIN, 0});
        sources.push_back({source, id, unread});
    };
    watch(wakeFd_, Source::Wake, 0);
    watch(udev_monitor_get_fd(monitor_), Source::Hotplug, 0);
    if (session_->changeFd() >= 0) {
        watch(session_->changeFd(), Source::Session, 0);
    }
    bool unread = false;
    for (const auto& watched : devices.descriptors()) {
        watch(watched.fd, watched.clone ? Source::Clone : Source::Device, watched.id,
              watched.unread);
        unread = unread || watched.unread;
    }
    int timeout = -1;
    if (unread) {
        // Events left over from the last round are read in this one, after a look at the others.
        timeout = 0;
    } else if (auto deadline = devices.nextDeadline()) {
        auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(*deadline - TapDevices::Clock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(wait.count(), 0));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0) {
        if (errno == EINTR) {
            return true;
        }
        reporter_.report("poll", "stopped reading the keyboards: " +
                                     std::generic_category().message(errno));
        return false;
    }
    for (std::size_t index = 0; index < fds.size() && !stopping_; ++index) {
        auto [source, id, leftOver] = sources[index];
        auto events = fds[index].revents;
        if (events == 0 && !leftOver) {
            continue;
        }
        switch (source) {
        case Source::Wake: {
            std::uint64_t count = 0;
            [[maybe_unused]] auto got = ::read(wakeFd_, &count, sizeof count);
            break;
        }
        case Source::Hotplug:
            receiveHotplug(devices);
            break;
        case Source::Session:
            followSession(devices);
            break;
        case Source::Device:
            if ((events & POLLIN) || events == 0) {
                devices.read(id);
            } else {
                devices.hungUp(id);
            }
            break;
        case Source::Clone:
            devices.forwardLeds(id);
            break;
        }
    }
    devices.settle(TapDevices::Clock::now());
    return true;
}

void TapReader::receiveHotplug(TapDevices& devices) {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) {
        return;
    }
    if (sessionActive_) {
        devices.follow(device);
    }
    udev_device_unref(device);
}

void TapReader::followSession(TapDevices& devices) {
    session_->acknowledgeChange();
    bool active = session_->isActive();
    if (active == sessionActive_) {
        return;
    }
    sessionActive_ = active;
    if (active) {
        devices.addAll(udev_);
    } else {
        // Presses decided by now go out, with what waited behind them, before the clones go.
        devices.settle(TapDevices::Clock::now());
        devices.removeAll();
    }
}

} // namespace varnu::linux_backend
