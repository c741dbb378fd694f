// What passing a keyboard's events through Varnu costs: from the moment an event is written to
// the original device to the moment the same event is written to its clone, through the real tap
// (its reader thread, TapDevices, the filter, libevdev and uinput), against a bare loop that polls
// the original, reads what is there and writes it to a uinput device of its own in one go. Both
// run on the keyboard bed's emulated devices (under umockdev-wrapper), so both carry the
// emulation's hand-over of every read and write to its handler thread; the difference between the
// two is what Varnu adds. A key is pressed and released one event at a time; the pointer moves at
// 1000 Hz whether or not the last motion has come through.

#include "bench/LatencySamples.h"
#include "tests/bed/input/KeyboardBed.h"

#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <linux/uinput.h>
#include <mutex>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;
using namespace varnu::bed;
using Clock = bench::LatencySamples::Clock;
using std::chrono::milliseconds;

constexpr milliseconds kPatience{5000};
constexpr auto kPointerPeriod = std::chrono::microseconds(1000);
const std::string kBareCopy = "bare copy";

// When the index-th event came to the live device of that name (events as the desktop reads
// them: frames that carry something, with their SYN_REPORT); the epoch if it never did.
Clock::time_point arrival(const EmulatedUinput& uinput, const std::string& name,
                          std::size_t index) {
    Clock::time_point at{};
    uinput.waitFor(
        [&](const std::vector<VirtualDevice>& devices) {
            for (const auto& device : devices) {
                if (device.announced && !device.destroyed && device.description.name == name &&
                    device.arrivals.size() > index) {
                    at = device.arrivals[index];
                    return true;
                }
            }
            return false;
        },
        kPatience);
    return at;
}

// The floor: a thread that polls the original, reads what is there and writes it unchanged to a
// uinput device that declares the same keys and axes.
class BareCopy {
public:
    BareCopy(const EmulatedEvdevDevice& original, KeyboardBed& machine)
        : device_(::open(original.node().c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC))
        , uinput_(::open("/dev/uinput", O_RDWR | O_CLOEXEC))
        , stop_(::eventfd(0, EFD_CLOEXEC)) {
        auto description = original.description();
        for (auto [type, request] : {std::pair{EV_KEY, UI_SET_KEYBIT}, {EV_REL, UI_SET_RELBIT}}) {
            ::ioctl(uinput_, UI_SET_EVBIT, type);
            for (auto code : description.codes[type]) {
                ::ioctl(uinput_, request, code);
            }
        }
        uinput_setup setup{};
        std::strncpy(setup.name, kBareCopy.c_str(), sizeof setup.name - 1);
        ::ioctl(uinput_, UI_DEV_SETUP, &setup);
        ::ioctl(uinput_, UI_DEV_CREATE);
        machine.uinput.waitFor(
            [](const auto& devices) { return !devices.empty() && devices.back().announced; },
            kPatience);
        thread_ = std::thread([this] { run(); });
    }
    ~BareCopy() {
        std::uint64_t one = 1;
        [[maybe_unused]] auto written = ::write(stop_, &one, sizeof one);
        thread_.join();
        for (int fd : {device_, uinput_, stop_}) {
            ::close(fd);
        }
    }

private:
    void run() {
        input_event events[64];
        pollfd fds[] = {{device_, POLLIN, 0}, {stop_, POLLIN, 0}};
        while (::poll(fds, 2, -1) > 0 && fds[1].revents == 0) {
            auto got = ::read(device_, events, sizeof events);
            if (got > 0) {
                [[maybe_unused]] auto written = ::write(uinput_, events, got);
            }
        }
    }

    int device_;
    int uinput_;
    int stop_;
    std::thread thread_;
};

// A key pressed and released, each event waited for before the next is written.
void measureKeys(benchmark::State& state, KeyboardBed& machine, EmulatedEvdevDevice& keyboard,
                 const std::string& copy) {
    bench::LatencySamples samples(state);
    std::size_t next = 0;
    std::int32_t value = 1;
    for (auto _ : state) {
        const auto written = Clock::now();
        keyboard.send({{EV_KEY, KEY_A, value}});
        samples.add(arrival(machine.uinput, copy, next) - written);
        // Its SYN_REPORT too, so that each key starts from a quiet reader.
        arrival(machine.uinput, copy, next + 1);
        next += 2;
        value = 1 - value;
    }
}

// Motion written every millisecond by a thread of its own, each frame's delay measured.
void measurePointer(benchmark::State& state, KeyboardBed& machine, EmulatedEvdevDevice& pointer,
                    const std::string& copy) {
    const auto frames = static_cast<std::size_t>(state.max_iterations);
    std::vector<Clock::time_point> written(frames);
    std::mutex mutex;
    std::thread mouse([&] {
        auto due = Clock::now();
        for (std::size_t frame = 0; frame < frames; ++frame) {
            std::this_thread::sleep_until(due += kPointerPeriod);
            std::lock_guard lock(mutex);
            written[frame] = Clock::now();
            pointer.send({{EV_REL, REL_X, frame % 2 ? 1 : -1}, {EV_REL, REL_Y, 1}});
        }
    });
    bench::LatencySamples samples(state);
    std::size_t frame = 0;
    for (auto _ : state) {
        // REL_X, REL_Y and SYN_REPORT for each frame.
        auto at = arrival(machine.uinput, copy, 3 * frame);
        std::lock_guard lock(mutex);
        samples.add(at - written[frame++]);
    }
    mouse.join();
}

// The tap holds the device once the desktop can read its clone.
bool taken(KeyboardBed& machine, EmulatedEvdevDevice& device) {
    machine.startTap();
    return machine.until([&] {
        auto clone = machine.clone(device.description().name);
        return device.isGrabbed() && clone && clone->announced;
    });
}

enum class Copier { Tap, BareLoop };
using Measure = void (*)(benchmark::State&, KeyboardBed&, EmulatedEvdevDevice&, const std::string&);

void passThrough(benchmark::State& state, EvdevDescription description, Copier copier,
                 Measure measure) {
    if (!UmockdevBed::isActive()) {
        state.SkipWithError("run under umockdev-wrapper");
        return;
    }
    KeyboardBed machine;
    auto& device = machine.plug(std::move(description));
    std::optional<BareCopy> bare;
    auto copy = device.description().name;
    if (copier == Copier::BareLoop) {
        bare.emplace(device, machine);
        copy = kBareCopy;
    } else if (!taken(machine, device)) {
        state.SkipWithError("the tap did not take the device");
        return;
    }
    measure(state, machine, device, copy);
}

void BM_TapPassesKeyThrough(benchmark::State& state) {
    passThrough(state, laptopKeyboard(), Copier::Tap, measureKeys);
}
BENCHMARK(BM_TapPassesKeyThrough)->UseManualTime()->Iterations(400);

void BM_BareLoopPassesKeyThrough(benchmark::State& state) {
    passThrough(state, laptopKeyboard(), Copier::BareLoop, measureKeys);
}
BENCHMARK(BM_BareLoopPassesKeyThrough)->UseManualTime()->Iterations(400);

void BM_TapPassesPointerAt1000Hz(benchmark::State& state) {
    passThrough(state, keyboardWithTouchpad(), Copier::Tap, measurePointer);
}
BENCHMARK(BM_TapPassesPointerAt1000Hz)->UseManualTime()->Iterations(2000);

void BM_BareLoopPassesPointerAt1000Hz(benchmark::State& state) {
    passThrough(state, keyboardWithTouchpad(), Copier::BareLoop, measurePointer);
}
BENCHMARK(BM_BareLoopPassesPointerAt1000Hz)->UseManualTime()->Iterations(2000);

} // namespace
