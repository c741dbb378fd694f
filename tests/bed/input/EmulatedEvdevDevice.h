#pragma once

// An input event device as the kernel's evdev presents it, on a umockdev bed: the udev devices
// (the input device and its eventN node), the EVIOCG* answers libevdev builds its view from,
// the grab (EBUSY, and no events delivered, while another program holds it), the clock the
// reader asked for (switching it flushes a non-empty queue with SYN_DROPPED), the events the
// test sends, stamped as the kernel would, a reader's queue of 64 events that overflows into
// SYN_DROPPED, the hang-up of an unplugged device, and the LED values written to it.

#include "tests/bed/UmockdevBed.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <linux/input.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace varnu::bed {

struct EvdevDescription {
    std::string name{};
    std::string phys{};
    std::string uniq{};
    input_id id{};
    // The sysfs path of the device the input device hangs under, e.g. /devices/platform/i8042.
    std::string parent = "/devices/virtual";
    // Event type -> the codes it reports; EV_SYN is always there.
    std::map<std::uint16_t, std::set<std::uint16_t>> codes{};
    std::set<std::uint16_t> properties{};
    // Delay and period in ms; the device then reports EV_REP and answers EVIOCGREP.
    std::optional<std::pair<unsigned, unsigned>> repeat{};
    // Whether udev has processed it: its rules set ID_INPUT and ID_INPUT_KEY then.
    bool processed = true;
};

struct SentEvent {
    std::uint16_t type = 0;
    std::uint16_t code = 0;
    std::int32_t value = 0;
};

// The whole events in what a program wrote to an event device.
std::vector<input_event> inputEvents(const std::vector<std::uint8_t>& bytes);

class EmulatedEvdevDevice final : public DeviceHandler {
public:
    // number: N of inputN and eventN.
    EmulatedEvdevDevice(UmockdevBed& bed, EvdevDescription description, int number);
    ~EmulatedEvdevDevice() override;

    // Adds the device to the bed and tells udev; false if the bed refused it.
    bool plug(bool announce = true);
    // The device goes, as the kernel has it go: every open descriptor hangs up (poll reports
    // POLLHUP, read() and ioctl() fail with ENODEV), and udev's remove follows on its own,
    // possibly before a reader saw the hang-up. Both are the test's to order.
    void hangUp();
    void unplug();
    void announceChange();

    EvdevDescription description() const;
    // What the device reports from now on, as after a new key map; announce with a change.
    void redescribe(EvdevDescription description);
    std::string node() const;
    std::string syspath() const;

    // One frame: the events and a SYN_REPORT, stamped now (or `age` earlier).
    void send(std::vector<SentEvent> events,
              std::chrono::microseconds age = std::chrono::microseconds(0));
    void press(std::uint16_t code);
    void release(std::uint16_t code);
    void type(std::uint16_t code);

    // While another program holds the device, its events go to that program only and
    // EVIOCGRAB answers EBUSY.
    void holdByOther(bool held);
    std::map<std::uint16_t, std::int32_t> leds() const;
    bool isGrabbed() const;
    // EVIOCGRAB calls that asked for the device, and those that got it.
    int grabAttempts() const;
    int grabs() const;
    // Runs on the handler thread just before a grab is granted.
    void onGrab(std::function<void()> hook);

    void ioctl(DeviceCall& call) override;
    void write(DeviceCall& call) override;
    int readError() const override;
    void closed(const void* client) override;

    // What a reader's queue holds at most before the kernel drops it for SYN_DROPPED.
    static constexpr std::size_t kQueueEvents = 64;

private:
    std::size_t queuedEvents() const;
    // Empties the reader's queue; the SYN_DROPPED that says so, stamped so.
    input_event dropQueue(input_event stamped);
    void grab(DeviceCall& call);

    UmockdevBed& bed_;
    EvdevDescription description_;
    int number_;
    int stream_ = -1;
    // The reading end of the stream, to see how much a reader has not read yet.
    int queue_ = -1;
    bool hungUp_ = false;
    std::map<std::uint16_t, std::int32_t> leds_;
    mutable std::mutex mutex_;
    std::set<std::uint16_t> keysDown_;
    const void* grabbedBy_ = nullptr;
    bool heldByOther_ = false;
    int grabAttempts_ = 0;
    int grabs_ = 0;
    clockid_t clock_ = CLOCK_REALTIME;
    std::function<void()> grabHook_;
};

} // namespace varnu::bed
