#pragma once

// /dev/uinput on a umockdev bed: every virtual device created through it becomes an emulated
// input device of its own (udev sees it appear and go, evdev answers for it), and every event
// written to it is recorded, so that tests read what a program re-emits.

#include "tests/bed/UmockdevBed.h"
#include "tests/bed/input/EmulatedEvdevDevice.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace varnu::bed {

struct VirtualDevice {
    EvdevDescription description;
    int number = 0; // of inputN and eventN, once created
    bool created = false;
    bool destroyed = false;
    std::vector<SentEvent> events;
    std::shared_ptr<EmulatedEvdevDevice> device; // once created
};

class EmulatedUinput final : public DeviceHandler {
public:
    // Virtual devices are numbered from firstNumber on (inputN, eventN).
    EmulatedUinput(UmockdevBed& bed, int firstNumber);

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
    void create(VirtualDevice& device);
    void destroy(VirtualDevice& device);
    std::string phys(DeviceCall& call);

    UmockdevBed& bed_;
    int nextNumber_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<const void*, std::size_t> byClient_;
    std::vector<VirtualDevice> devices_;
};

} // namespace varnu::bed
