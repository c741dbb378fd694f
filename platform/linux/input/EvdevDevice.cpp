#include "platform/linux/input/EvdevDevice.h"

#include "platform/linux/input/EvdevCapabilities.h"

#include <cerrno>
#include <fcntl.h>
#include <libevdev/libevdev-uinput.h>
#include <libevdev/libevdev.h>
#include <linux/input.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace varnu::linux_backend {

std::unique_ptr<EvdevDevice> EvdevDevice::open(const std::string& node, int& error) {
    // Writing is only needed for the LEDs; a read-only device still works without them.
    int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        fd = ::open(node.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        error = errno;
        return nullptr;
    }
    libevdev* evdev = nullptr;
    if (int result = libevdev_new_from_fd(fd, &evdev); result < 0) {
        error = -result;
        ::close(fd);
        return nullptr;
    }
    error = 0;
    std::unique_ptr<EvdevDevice> device(new EvdevDevice(node, fd, evdev));
    // Stamps on a clock that never jumps tell events the desktop received before the grab from
    // those that came after it.
    int monotonic = CLOCK_MONOTONIC;
    if (::ioctl(fd, EVIOCSCLOCKID, &monotonic) == 0) {
        device->clock_ = CLOCK_MONOTONIC;
    }
    device->repeatsInKernel_ = libevdev_has_event_type(evdev, EV_REP);
    unsigned int repeat[2] = {};
    if (::ioctl(fd, EVIOCGREP, repeat) == 0 && repeat[0] > 0 && repeat[1] > 0) {
        device->reportedRepeat_ = RepeatRate{std::chrono::milliseconds(repeat[REP_DELAY]),
                                             std::chrono::milliseconds(repeat[REP_PERIOD])};
    }
    return device;
}

EvdevDevice::EvdevDevice(std::string node, int fd, libevdev* evdev)
    : node_(std::move(node))
    , fd_(fd)
    , evdev_(evdev) {}

EvdevDevice::~EvdevDevice() {
    ungrab();
    removeClone();
    libevdev_free(evdev_);
    ::close(fd_);
}

std::string EvdevDevice::name() const {
    const char* name = libevdev_get_name(evdev_);
    return name ? name : "";
}

int EvdevDevice::cloneFd() const {
    return clone_ ? uinputFd_ : -1;
}

EvdevDevice::Stamp EvdevDevice::now() const {
    timespec time{};
    ::clock_gettime(clock_, &time);
    return std::chrono::duration_cast<Stamp>(std::chrono::seconds(time.tv_sec) +
                                             std::chrono::nanoseconds(time.tv_nsec));
}

EvdevDevice::ReadResult
EvdevDevice::readEvents(const std::function<bool(const InputEvent&, Stamp)>& reader) {
    unsigned flags = LIBEVDEV_READ_FLAG_NORMAL;
    bool goOn = true;
    for (;;) {
        // Stopped in the middle of a resynchronisation, libevdev would drop the rest of it.
        if (!goOn && flags == LIBEVDEV_READ_FLAG_NORMAL) {
            return libevdev_has_event_pending(evdev_) > 0 ? ReadResult::More : ReadResult::Drained;
        }
        input_event event{};
        int result = libevdev_next_event(evdev_, flags, &event);
        if (result == -EAGAIN) {
            if (flags == LIBEVDEV_READ_FLAG_SYNC) {
                flags = LIBEVDEV_READ_FLAG_NORMAL;
                continue;
            }
            return ReadResult::Drained;
        }
        if (result < 0) {
            return result == -EINTR ? ReadResult::Drained : ReadResult::Gone;
        }
        if (result == LIBEVDEV_READ_STATUS_SYNC && flags == LIBEVDEV_READ_FLAG_NORMAL) {
            // The SYN_DROPPED itself; the changes follow in sync mode.
            flags = LIBEVDEV_READ_FLAG_SYNC;
            continue;
        }
        goOn = reader({event.type, event.code, event.value},
                      std::chrono::seconds(event.input_event_sec) +
                          std::chrono::microseconds(event.input_event_usec)) &&
               goOn;
    }
}

int EvdevDevice::createClone(const std::string& uinputPath) {
    uinputFd_ = ::open(uinputPath.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (uinputFd_ < 0) {
        return errno;
    }
    auto ownName = name();
    libevdev_set_name(evdev_, cloneName(ownName).c_str());
    // libevdev passes on the name, ids and properties; the phys string is set here, and uniq
    // cannot be set through uinput at all.
    if (const char* phys = libevdev_get_phys(evdev_)) {
        ::ioctl(uinputFd_, UI_SET_PHYS, phys);
    }
    // The device's own autorepeat events are passed on, so the clone must not add its own;
    // force feedback would need a uinput upload protocol nobody here answers.
    libevdev_disable_event_type(evdev_, EV_REP);
    libevdev_disable_event_type(evdev_, EV_FF);
    int result = libevdev_uinput_create_from_device(evdev_, uinputFd_, &clone_);
    libevdev_set_name(evdev_, ownName.c_str());
    if (result < 0) {
        clone_ = nullptr;
        ::close(uinputFd_);
        uinputFd_ = -1;
        return -result;
    }
    // Without its sysfs path the clone could not be told from a keyboard to grab.
    const char* syspath = libevdev_uinput_get_syspath(clone_);
    if (!syspath) {
        removeClone();
        return ENODEV;
    }
    cloneSyspath_ = syspath;
    return 0;
}

void EvdevDevice::removeClone() {
    if (clone_) {
        libevdev_uinput_destroy(clone_);
        ::close(uinputFd_);
        clone_ = nullptr;
        uinputFd_ = -1;
        cloneSyspath_.clear();
    }
}

int EvdevDevice::grab() {
    int result = libevdev_grab(evdev_, LIBEVDEV_GRAB);
    grabbed_ = result == 0;
    return -result;
}

void EvdevDevice::ungrab() {
    if (grabbed_) {
        libevdev_grab(evdev_, LIBEVDEV_UNGRAB);
        grabbed_ = false;
    }
}

std::optional<KeyStateBits> EvdevDevice::keyState() const {
    KeyStateBits keys{};
    if (::ioctl(fd_, EVIOCGKEY(sizeof keys), keys.data()) < 0) {
        return std::nullopt;
    }
    return keys;
}

void EvdevDevice::emit(const InputEvent& event) {
    if (clone_) {
        libevdev_uinput_write_event(clone_, event.type, event.code, event.value);
    }
}

void EvdevDevice::forwardLeds() {
    if (!clone_) {
        return;
    }
    input_event event{};
    while (::read(uinputFd_, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        if (event.type == EV_LED) {
            libevdev_kernel_set_led_value(evdev_, event.code,
                                          event.value ? LIBEVDEV_LED_ON : LIBEVDEV_LED_OFF);
        }
    }
}

} // namespace varnu::linux_backend
