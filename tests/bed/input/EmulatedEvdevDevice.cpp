#include "tests/bed/input/EmulatedEvdevDevice.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <termios.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

// The evdev ioctl numbers (the _IOC_NR of the EVIOC* requests).
constexpr unsigned kGetVersion = 0x01;
constexpr unsigned kGetId = 0x02;
constexpr unsigned kGetRepeat = 0x03;
constexpr unsigned kGetName = 0x06;
constexpr unsigned kGetPhys = 0x07;
constexpr unsigned kGetUniq = 0x08;
constexpr unsigned kGetProperties = 0x09;
constexpr unsigned kGetKeyState = 0x18;
constexpr unsigned kGetLedState = 0x19;
constexpr unsigned kGetSoundState = 0x1a;
constexpr unsigned kGetSwitchState = 0x1b;
constexpr unsigned kGetBitsFirst = 0x20;
constexpr unsigned kGetBitsLast = 0x20 + EV_MAX;
constexpr unsigned kGetAbsFirst = 0x40;
constexpr unsigned kGetAbsLast = 0x40 + ABS_MAX;
constexpr unsigned kGrab = 0x90;
constexpr unsigned kSetClock = 0xa0;

template <typename T>
std::span<const std::uint8_t> bytesOf(const T& value) {
    return {reinterpret_cast<const std::uint8_t*>(&value), sizeof value};
}

} // namespace

std::vector<input_event> inputEvents(const std::vector<std::uint8_t>& bytes) {
    std::vector<input_event> events(bytes.size() / sizeof(input_event));
    std::memcpy(events.data(), bytes.data(), events.size() * sizeof(input_event));
    return events;
}

EmulatedEvdevDevice::EmulatedEvdevDevice(UmockdevBed& bed, EvdevDescription description, int number)
    : bed_(bed)
    , number_(number) {
    redescribe(std::move(description));
}

EmulatedEvdevDevice::~EmulatedEvdevDevice() {
    if (queue_ >= 0) {
        ::close(queue_);
    }
}

EvdevDescription EmulatedEvdevDevice::description() const {
    std::lock_guard lock(mutex_);
    return description_;
}

void EmulatedEvdevDevice::redescribe(EvdevDescription description) {
    std::lock_guard lock(mutex_);
    description.codes[EV_SYN].insert(SYN_REPORT);
    if (description.repeat) {
        description.codes[EV_REP];
    }
    description_ = std::move(description);
}

std::string EmulatedEvdevDevice::node() const {
    return "/dev/input/event" + std::to_string(number_);
}

std::string EmulatedEvdevDevice::syspath() const {
    return "/sys" + description_.parent + "/input/input" + std::to_string(number_) + "/event" +
           std::to_string(number_);
}

bool EmulatedEvdevDevice::plug(bool announce) {
    auto input = description_.parent + "/input/input" + std::to_string(number_);
    std::ostringstream text;
    text << "P: " << input << "\nE: SUBSYSTEM=input\nE: NAME=\"" << description_.name
         << "\"\nA: name=" << description_.name << "\n\n";
    text << "P: " << input << "/event" << number_ << "\nN: input/event" << number_
         << "\nE: SUBSYSTEM=input\nE: DEVNAME=" << node() << '\n';
    if (description_.processed) {
        text << "E: ID_INPUT=1\nE: ID_INPUT_KEY=1\n";
    }
    // Answering before the node shows, as a kernel device does: a reader that finds the node
    // by enumerating, before any announcement, must not open a dead one.
    if (!bed_.attach(node(), *this) || !bed_.add(text.str())) {
        return false;
    }
    stream_ = bed_.streamFd(node());
    // Straight to the kernel: umockdev would hand this descriptor's calls to the handler
    // thread, which may be the one asking.
    if (const char* reading = stream_ >= 0 ? ::ptsname(stream_) : nullptr) {
        queue_ = static_cast<int>(
            ::syscall(SYS_openat, AT_FDCWD, reading, O_RDONLY | O_NOCTTY | O_CLOEXEC));
    }
    if (announce) {
        bed_.uevent(syspath(), "add");
    }
    return stream_ >= 0;
}

void EmulatedEvdevDevice::hangUp() {
    std::lock_guard lock(mutex_);
    hungUp_ = true;
    // The reader's end of the pty hangs up once the test's end closes. The testbed owns that
    // descriptor and closes it at its end, so something harmless takes its number at once.
    int placeholder = ::eventfd(0, EFD_CLOEXEC);
    ::dup2(placeholder, stream_);
    ::close(placeholder);
}

void EmulatedEvdevDevice::unplug() {
    bed_.uevent(syspath(), "remove");
    bed_.remove(syspath());
}

int EmulatedEvdevDevice::readError() const {
    std::lock_guard lock(mutex_);
    return hungUp_ ? ENODEV : 0;
}

void EmulatedEvdevDevice::announceChange() {
    bed_.uevent(syspath(), "change");
}

void EmulatedEvdevDevice::send(std::vector<SentEvent> events, std::chrono::microseconds age) {
    std::lock_guard lock(mutex_);
    timespec now{};
    ::clock_gettime(clock_, &now);
    auto stamp = std::chrono::seconds(now.tv_sec) +
                 std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::nanoseconds(now.tv_nsec)) -
                 age;
    input_event stamped{};
    stamped.input_event_sec = std::chrono::duration_cast<std::chrono::seconds>(stamp).count();
    stamped.input_event_usec = (stamp % std::chrono::seconds(1)).count();
    for (const auto& event : events) {
        if (event.type == EV_KEY && event.value == 1) {
            keysDown_.insert(event.code);
        } else if (event.type == EV_KEY && event.value == 0) {
            keysDown_.erase(event.code);
        }
    }
    if (heldByOther_ || hungUp_) {
        return;
    }
    events.push_back({EV_SYN, SYN_REPORT, 0});
    std::vector<input_event> out;
    auto queued = queuedEvents();
    for (const auto& event : events) {
        // A reader that has not kept up loses its whole queue for one SYN_DROPPED.
        if (queued + out.size() + 1 >= kQueueEvents) {
            queued = 0;
            out = {dropQueue(stamped)};
        }
        out.push_back(stamped);
        out.back().type = event.type;
        out.back().code = event.code;
        out.back().value = event.value;
    }
    // One write per frame: the reader gets whole events.
    [[maybe_unused]] auto written = ::write(stream_, out.data(), out.size() * sizeof(input_event));
}

std::size_t EmulatedEvdevDevice::queuedEvents() const {
    int bytes = 0;
    if (queue_ < 0 || ::syscall(SYS_ioctl, queue_, FIONREAD, &bytes) < 0) {
        return 0;
    }
    return static_cast<std::size_t>(bytes) / sizeof(input_event);
}

input_event EmulatedEvdevDevice::dropQueue(input_event stamped) {
    ::syscall(SYS_ioctl, queue_, TCFLSH, TCIFLUSH);
    stamped.type = EV_SYN;
    stamped.code = SYN_DROPPED;
    stamped.value = 0;
    return stamped;
}

void EmulatedEvdevDevice::press(std::uint16_t code) {
    send({{EV_KEY, code, 1}});
}

void EmulatedEvdevDevice::release(std::uint16_t code) {
    send({{EV_KEY, code, 0}});
}

void EmulatedEvdevDevice::type(std::uint16_t code) {
    press(code);
    release(code);
}

void EmulatedEvdevDevice::holdByOther(bool held) {
    std::lock_guard lock(mutex_);
    heldByOther_ = held;
}

std::map<std::uint16_t, std::int32_t> EmulatedEvdevDevice::leds() const {
    std::lock_guard lock(mutex_);
    return leds_;
}

void EmulatedEvdevDevice::write(DeviceCall& call) {
    auto bytes = call.written();
    std::lock_guard lock(mutex_);
    for (const auto& event : inputEvents(bytes)) {
        if (event.type == EV_LED) {
            leds_[event.code] = event.value;
        }
    }
    call.complete(static_cast<long>(bytes.size()));
}

bool EmulatedEvdevDevice::isGrabbed() const {
    std::lock_guard lock(mutex_);
    return grabbedBy_ != nullptr;
}

int EmulatedEvdevDevice::grabAttempts() const {
    std::lock_guard lock(mutex_);
    return grabAttempts_;
}

int EmulatedEvdevDevice::grabs() const {
    std::lock_guard lock(mutex_);
    return grabs_;
}

void EmulatedEvdevDevice::onGrab(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    grabHook_ = std::move(hook);
}

void EmulatedEvdevDevice::ioctl(DeviceCall& call) {
    EvdevDescription description;
    {
        std::lock_guard lock(mutex_);
        description = description_;
        if (hungUp_) {
            call.complete(-1, ENODEV);
            return;
        }
    }
    auto request = call.request();
    if (_IOC_TYPE(request) != 'E') {
        call.complete(-1, ENOTTY);
        return;
    }
    auto number = _IOC_NR(request);
    auto size = static_cast<std::size_t>(_IOC_SIZE(request));
    auto string = [&](const std::string& text) {
        if (text.empty()) {
            call.complete(-1, ENOENT);
            return;
        }
        std::vector<std::uint8_t> reply(size, 0);
        auto length = std::min(text.size(), size - 1);
        std::memcpy(reply.data(), text.data(), length);
        call.reply(static_cast<long>(length + 1), reply);
    };
    auto bits = [&](const std::set<std::uint16_t>& set) {
        std::vector<std::uint8_t> mask(size, 0);
        for (auto bit : set) {
            if (bit / 8u < size) {
                mask[bit / 8u] |= static_cast<std::uint8_t>(1u << (bit % 8u));
            }
        }
        call.reply(static_cast<long>(size), mask);
    };
    if (number == kGetVersion) {
        int version = EV_VERSION;
        call.reply(0, bytesOf(version));
    } else if (number == kGetId) {
        call.reply(0, bytesOf(description.id));
    } else if (number == kGetRepeat) {
        if (!description.repeat) {
            call.complete(-1, ENOSYS);
            return;
        }
        unsigned repeat[2] = {description.repeat->first, description.repeat->second};
        call.reply(0, bytesOf(repeat));
    } else if (number == kGetName) {
        string(description.name);
    } else if (number == kGetPhys) {
        string(description.phys);
    } else if (number == kGetUniq) {
        string(description.uniq);
    } else if (number == kGetProperties) {
        bits(description.properties);
    } else if (number == kGetKeyState) {
        std::lock_guard lock(mutex_);
        bits(keysDown_);
    } else if (number == kGetLedState || number == kGetSoundState || number == kGetSwitchState) {
        bits({});
    } else if (number >= kGetBitsFirst && number <= kGetBitsLast) {
        std::set<std::uint16_t> types;
        for (const auto& [type, codes] : description.codes) {
            types.insert(type);
        }
        auto type = static_cast<std::uint16_t>(number - kGetBitsFirst);
        bits(type == 0 ? types : description.codes[type]);
    } else if (number >= kGetAbsFirst && number <= kGetAbsLast) {
        input_absinfo info{};
        info.maximum = 100;
        call.reply(0, bytesOf(info));
    } else if (number == kGrab) {
        grab(call);
    } else if (number == kSetClock) {
        auto clock = call.bytes(sizeof(int));
        if (clock.size() == sizeof(int)) {
            std::lock_guard lock(mutex_);
            std::memcpy(&clock_, clock.data(), sizeof(int));
            // The kernel empties a queue stamped on the old clock and says so.
            if (queuedEvents() > 0) {
                auto dropped = dropQueue({});
                [[maybe_unused]] auto written = ::write(stream_, &dropped, sizeof dropped);
            }
        }
        call.complete(0);
    } else {
        call.complete(-1, EINVAL);
    }
}

void EmulatedEvdevDevice::grab(DeviceCall& call) {
    std::function<void()> hook;
    {
        std::lock_guard lock(mutex_);
        bool wanted = call.value() != 0;
        if (wanted) {
            ++grabAttempts_;
            if (heldByOther_ || (grabbedBy_ && grabbedBy_ != call.client())) {
                call.complete(-1, EBUSY);
                return;
            }
            hook = grabHook_;
        } else if (grabbedBy_ != call.client()) {
            call.complete(-1, EINVAL);
            return;
        }
    }
    if (hook) {
        hook();
    }
    std::lock_guard lock(mutex_);
    grabbedBy_ = call.value() != 0 ? call.client() : nullptr;
    grabs_ += grabbedBy_ ? 1 : 0;
    call.complete(0);
}

void EmulatedEvdevDevice::closed(const void* client) {
    std::lock_guard lock(mutex_);
    if (grabbedBy_ == client) {
        grabbedBy_ = nullptr;
    }
}

} // namespace varnu::bed
