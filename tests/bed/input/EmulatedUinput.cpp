#include "tests/bed/input/EmulatedUinput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <linux/uinput.h>
#include <unistd.h>

namespace varnu::bed {
namespace {

constexpr unsigned kCreate = 1;
constexpr unsigned kDestroy = 2;
constexpr unsigned kSetup = 3;
constexpr unsigned kAbsSetup = 4;
constexpr unsigned kGetSysname = 44;
constexpr unsigned kGetVersion = 45;
constexpr unsigned kSetEventBit = 100;
constexpr unsigned kSetPhys = 108;
constexpr unsigned kSetSwitchBit = 109;
constexpr unsigned kSetPropertyBit = 110;
constexpr unsigned kUinputVersion = 5;
constexpr std::size_t kLongestPhys = 64;

} // namespace

EmulatedUinput::EmulatedUinput(UmockdevBed& bed, int firstNumber)
    : bed_(bed)
    , nextNumber_(firstNumber) {}

EmulatedUinput::~EmulatedUinput() {
    finishAnnouncements();
}

void EmulatedUinput::finishAnnouncements() {
    std::vector<std::thread> announcers;
    {
        std::lock_guard lock(mutex_);
        announcers.swap(announcers_);
    }
    for (auto& announcer : announcers) {
        announcer.join();
    }
}

void EmulatedUinput::announceAfter(std::optional<std::chrono::milliseconds> delay) {
    std::lock_guard lock(mutex_);
    announceDelay_ = delay;
}

void EmulatedUinput::writeLed(std::uint16_t code, std::int32_t value) {
    input_event frame[2]{};
    frame[0].type = EV_LED;
    frame[0].code = code;
    frame[0].value = value;
    frame[1].type = EV_SYN;
    frame[1].code = SYN_REPORT;
    [[maybe_unused]] auto written = ::write(bed_.streamFd("/dev/uinput"), frame, sizeof frame);
}

bool EmulatedUinput::plug() {
    return bed_.add("P: /devices/virtual/misc/uinput\nN: uinput\nE: SUBSYSTEM=misc\n"
                    "E: DEVNAME=/dev/uinput\n") &&
           bed_.attach("/dev/uinput", *this);
}

std::vector<VirtualDevice> EmulatedUinput::devices() const {
    std::lock_guard lock(mutex_);
    return devices_;
}

bool EmulatedUinput::waitFor(
    const std::function<bool(const std::vector<VirtualDevice>&)>& condition,
    std::chrono::milliseconds limit) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, limit, [&] { return condition(devices_); });
}

std::string EmulatedUinput::phys(DeviceCall& call) {
    // A C string of unknown length, which umockdev cannot fetch whole: a window as long as the
    // longest phys, cut at the string's end. The caller may be another process.
    auto window = call.bytes(kLongestPhys);
    return std::string(window.begin(), std::find(window.begin(), window.end(), '\0'));
}

void EmulatedUinput::ioctl(DeviceCall& call) {
    auto request = call.request();
    auto number = _IOC_NR(request);
    if (_IOC_TYPE(request) != UINPUT_IOCTL_BASE) {
        call.complete(-1, ENOTTY);
        return;
    }
    if (number == kGetVersion) {
        unsigned version = kUinputVersion;
        call.reply(0, {reinterpret_cast<const std::uint8_t*>(&version), sizeof version});
        return;
    }
    std::string physText = number == kSetPhys ? phys(call) : std::string();
    std::vector<std::uint8_t> setup =
        number == kSetup ? call.bytes(sizeof(uinput_setup)) : std::vector<std::uint8_t>{};
    std::unique_lock lock(mutex_);
    auto slot = byClient_.find(call.client());
    if (slot == byClient_.end()) {
        lock.unlock();
        call.complete(-1, EBADF);
        return;
    }
    auto& device = devices_[slot->second];
    auto& description = device.description;
    if (number == kSetup && setup.size() == sizeof(uinput_setup)) {
        uinput_setup values{};
        std::memcpy(&values, setup.data(), sizeof values);
        description.name = values.name;
        description.id = values.id;
    } else if (number == kSetPhys) {
        description.phys = physText;
    } else if (number == kSetEventBit) {
        description.codes[static_cast<std::uint16_t>(call.value())];
    } else if (number > kSetEventBit && number <= kSetSwitchBit) {
        static const std::map<unsigned, std::uint16_t> kTypes{
            {101, EV_KEY}, {102, EV_REL}, {103, EV_ABS}, {104, EV_MSC},
            {105, EV_LED}, {106, EV_SND}, {107, EV_FF},  {109, EV_SW}};
        if (auto type = kTypes.find(number); type != kTypes.end()) {
            description.codes[type->second].insert(static_cast<std::uint16_t>(call.value()));
        }
    } else if (number == kSetPropertyBit) {
        description.properties.insert(static_cast<std::uint16_t>(call.value()));
    } else if (number == kCreate) {
        // Plugging waits for the bed's thread, which may be waiting for the lock to tell of a
        // client that closed.
        auto index = slot->second;
        lock.unlock();
        create(index);
        call.complete(0);
        return;
    } else if (number == kGetSysname) {
        if (!device.created) {
            call.complete(-1, ENOENT);
            return;
        }
        auto sysname = "input" + std::to_string(device.number);
        std::vector<std::uint8_t> reply(_IOC_SIZE(request), 0);
        std::memcpy(reply.data(), sysname.data(), std::min(sysname.size(), reply.size() - 1));
        lock.unlock();
        call.reply(0, reply);
        return;
    } else if (number == kDestroy) {
        destroy(device);
    } else if (number != kAbsSetup) {
        call.complete(-1, EINVAL);
        return;
    }
    changed_.notify_all();
    lock.unlock();
    call.complete(0);
}

void EmulatedUinput::create(std::size_t index) {
    std::unique_lock lock(mutex_);
    auto& description = devices_[index].description;
    description.repeat.reset();
    // Like the kernel, the device exists before the call returns; udev has yet to process it.
    description.processed = false;
    const int number = nextNumber_++;
    auto device = std::make_shared<EmulatedEvdevDevice>(bed_, description, number);
    lock.unlock();
    device->plug(false);
    lock.lock();
    auto& created = devices_[index];
    created.created = true;
    created.number = number;
    created.device = std::move(device);
    if (announceDelay_) {
        announcers_.emplace_back([this, index, delay = *announceDelay_] {
            std::this_thread::sleep_for(delay);
            announce(index);
        });
    }
    changed_.notify_all();
}

void EmulatedUinput::announce(std::size_t index) {
    std::lock_guard lock(mutex_);
    auto& device = devices_[index];
    if (device.destroyed) {
        return;
    }
    auto syspath = device.device->syspath();
    bed_.setProperty(syspath, "ID_INPUT", "1");
    bed_.setProperty(syspath, "ID_INPUT_KEY", "1");
    bed_.uevent(syspath, "add");
    // The desktop hears of it with the same event and opens it.
    device.announced = true;
    changed_.notify_all();
}

bool EmulatedUinput::passes(VirtualDevice& device, const input_event& event) {
    if (event.type == EV_SYN) {
        bool frame = device.frameEvents > 0;
        device.frameEvents = 0;
        return frame;
    }
    auto declared = device.description.codes.find(event.type);
    if (declared == device.description.codes.end() || !declared->second.contains(event.code)) {
        return false;
    }
    if (event.type == EV_KEY && event.value != 2) {
        if (device.keysDown.contains(event.code) == (event.value != 0)) {
            return false;
        }
        if (event.value != 0) {
            device.keysDown.insert(event.code);
        } else {
            device.keysDown.erase(event.code);
        }
    }
    if (event.type == EV_REL && event.value == 0) {
        return false;
    }
    ++device.frameEvents;
    return true;
}

void EmulatedUinput::destroy(VirtualDevice& device) {
    if (device.created && !device.destroyed) {
        device.destroyed = true;
        device.device->hangUp();
        device.device->unplug();
    }
}

void EmulatedUinput::write(DeviceCall& call) {
    auto bytes = call.written();
    {
        std::lock_guard lock(mutex_);
        if (auto slot = byClient_.find(call.client()); slot != byClient_.end()) {
            auto& device = devices_[slot->second];
            for (const auto& event : inputEvents(bytes)) {
                if (passes(device, event) && device.announced) {
                    device.events.push_back({event.type, event.code, event.value});
                    device.arrivals.push_back(std::chrono::steady_clock::now());
                }
            }
        }
        changed_.notify_all();
    }
    call.complete(static_cast<long>(bytes.size()));
}

void EmulatedUinput::opened(const void* client) {
    std::lock_guard lock(mutex_);
    byClient_[client] = devices_.size();
    devices_.emplace_back();
}

void EmulatedUinput::closed(const void* client) {
    std::lock_guard lock(mutex_);
    if (auto slot = byClient_.find(client); slot != byClient_.end()) {
        destroy(devices_[slot->second]);
        byClient_.erase(slot);
        changed_.notify_all();
    }
}

} // namespace varnu::bed
