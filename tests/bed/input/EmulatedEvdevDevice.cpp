#include "tests/bed/input/EmulatedEvdevDevice.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <sstream>
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

EmulatedEvdevDevice::EmulatedEvdevDevice(UmockdevBed& bed, EvdevDescription description, int number)
    : bed_(bed)
    , number_(number) {
    redescribe(std::move(description));
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
         << "\nE: SUBSYSTEM=input\nE: DEVNAME=" << node() << "\nE: ID_INPUT=1\n";
    for (const auto& property : description_.udevProperties) {
        text << "E: " << property << '\n';
    }
    if (!bed_.add(text.str()) || !bed_.attach(node(), *this)) {
        return false;
    }
    stream_ = bed_.streamFd(node());
    if (announce) {
        bed_.uevent(syspath(), "add");
    }
    return stream_ >= 0;
}

void EmulatedEvdevDevice::unplug() {
    bed_.uevent(syspath(), "remove");
    bed_.remove(syspath());
}

void EmulatedEvdevDevice::announceChange() {
    bed_.uevent(syspath(), "change");
}

void EmulatedEvdevDevice::send(const std::vector<SentEvent>& events,
                               std::chrono::microseconds age) {
    clockid_t clock;
    {
        std::lock_guard lock(mutex_);
        clock = clock_;
    }
    timespec now{};
    ::clock_gettime(clock, &now);
    auto stamp = std::chrono::seconds(now.tv_sec) +
                 std::chrono::duration_cast<std::chrono::microseconds>(
                     std::chrono::nanoseconds(now.tv_nsec)) -
                 age;
    std::vector<input_event> frame;
    auto add = [&](std::uint16_t type, std::uint16_t code, std::int32_t value) {
        input_event event{};
        event.input_event_sec = std::chrono::duration_cast<std::chrono::seconds>(stamp).count();
        event.input_event_usec = (stamp % std::chrono::seconds(1)).count();
        event.type = type;
        event.code = code;
        event.value = value;
        frame.push_back(event);
    };
    for (const auto& event : events) {
        add(event.type, event.code, event.value);
    }
    add(EV_SYN, SYN_REPORT, 0);
    // One write per frame: the reader gets whole events.
    [[maybe_unused]] auto written =
        ::write(stream_, frame.data(), frame.size() * sizeof(input_event));
}

void EmulatedEvdevDevice::press(std::uint16_t code) {
    {
        std::lock_guard lock(mutex_);
        keysDown_.insert(code);
    }
    send({{EV_KEY, code, 1}});
}

void EmulatedEvdevDevice::repeat(std::uint16_t code) {
    send({{EV_KEY, code, 2}});
}

void EmulatedEvdevDevice::release(std::uint16_t code) {
    {
        std::lock_guard lock(mutex_);
        keysDown_.erase(code);
    }
    send({{EV_KEY, code, 0}});
}

void EmulatedEvdevDevice::type(std::uint16_t code) {
    press(code);
    release(code);
}

void EmulatedEvdevDevice::refuseGrabs(bool refused) {
    std::lock_guard lock(mutex_);
    grabsRefused_ = refused;
}

bool EmulatedEvdevDevice::isGrabbed() const {
    std::lock_guard lock(mutex_);
    return grabbedBy_ != nullptr;
}

int EmulatedEvdevDevice::grabAttempts() const {
    std::lock_guard lock(mutex_);
    return grabAttempts_;
}

bool EmulatedEvdevDevice::waitUntilGrabbed(bool grabbed, std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return (grabbedBy_ != nullptr) == grabbed; });
}

void EmulatedEvdevDevice::onGrab(std::function<void()> hook) {
    std::lock_guard lock(mutex_);
    grabHook_ = std::move(hook);
}

bool EmulatedEvdevDevice::everOpened() const {
    std::lock_guard lock(mutex_);
    return opened_;
}

std::vector<std::uint8_t> EmulatedEvdevDevice::bitmask(const std::set<std::uint16_t>& bits,
                                                       std::size_t size) const {
    std::vector<std::uint8_t> mask(size, 0);
    for (auto bit : bits) {
        if (bit / 8u < size) {
            mask[bit / 8u] |= static_cast<std::uint8_t>(1u << (bit % 8u));
        }
    }
    return mask;
}

void EmulatedEvdevDevice::ioctl(DeviceCall& call) {
    EvdevDescription description;
    {
        std::lock_guard lock(mutex_);
        opened_ = true;
        description = description_;
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
        call.reply(static_cast<long>(size), bitmask(set, size));
    };
    auto codes = [&](std::uint16_t type) {
        auto found = description.codes.find(type);
        return found == description.codes.end() ? std::set<std::uint16_t>{} : found->second;
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
        auto type = static_cast<std::uint16_t>(number - kGetBitsFirst);
        if (type == 0) {
            std::set<std::uint16_t> types;
            for (const auto& [eventType, eventCodes] : description.codes) {
                types.insert(eventType);
            }
            bits(types);
        } else {
            bits(codes(type));
        }
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
            if (grabsRefused_ || (grabbedBy_ && grabbedBy_ != call.client())) {
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
    changed_.notify_all();
    call.complete(0);
}

void EmulatedEvdevDevice::closed(const void* client) {
    std::lock_guard lock(mutex_);
    if (grabbedBy_ == client) {
        grabbedBy_ = nullptr;
        changed_.notify_all();
    }
}

} // namespace varnu::bed
