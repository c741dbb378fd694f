#pragma once

// /dev/uinput on a umockdev bed: every virtual device created through it becomes an emulated
// input device of its own, which udev announces, with its input properties, some time after it
// was created, and evdev answers for. Like the kernel, it drops what a reader would never see
// (codes the device did not declare, a key's press while it is down or release while it is up,
// a relative motion of 0, frames with no event); the desktop opens a device only once udev
// announced it, so what is written before that is lost for it. Tests read what the desktop got.

#include "tests/bed/UmockdevBed.h"
#include "tests/bed/input/EmulatedEvdevDevice.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

namespace varnu::bed {

struct VirtualDevice {
    EvdevDescription description;
    int number = 0; // of inputN and eventN, once created
    bool created = false;
    bool announced = false;
    bool destroyed = false;
    // What the desktop read from the device, and when each came (in one order over all devices).
    std::vector<SentEvent> events;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    // The kernel's state of the device: keys down, events of the frame so far.
    std::set<std::uint16_t> keysDown;
    std::size_t frameEvents = 0;
    std::shared_ptr<EmulatedEvdevDevice> device; // once created
};

class EmulatedUinput final : public DeviceHandler {
public:
    // Virtual devices are numbered from firstNumber on (inputN, eventN).
    EmulatedUinput(UmockdevBed& bed, int firstNumber);
    // Waits for the announcements still to come.
    ~EmulatedUinput() override;
    void finishAnnouncements();

    // How long udev takes to announce a new device; nullopt: it never does.
    void announceAfter(std::optional<std::chrono::milliseconds> delay);
    // An LED change the desktop writes to the clone, as its uinput descriptor reads it.
    void writeLed(std::uint16_t code, std::int32_t value);

    bool plug();

    // Every device ever created, in creation order (copies).
    std::vector<VirtualDevice> devices() const;
    // Waits until the condition holds over devices(); answers whether it does.
    bool waitFor(const std::function<bool(const std::vector<VirtualDevice>&)>& condition,
                 std::chrono::milliseconds limit) const;

    void ioctl(DeviceCall& call) override;
    void write(DeviceCall& call) override;
    void opened(const void* client) override;
    void closed(const void* client) override;

private:
    void create(std::size_t index);
    void announce(std::size_t index);
    bool passes(VirtualDevice& device, const input_event& event);
    void destroy(VirtualDevice& device);
    std::string phys(DeviceCall& call);

    UmockdevBed& bed_;
    int nextNumber_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<const void*, std::size_t> byClient_;
    std::vector<VirtualDevice> devices_;
    std::optional<std::chrono::milliseconds> announceDelay_{std::chrono::milliseconds(30)};
    std::vector<std::thread> announcers_;
};

} // namespace varnu::bed
