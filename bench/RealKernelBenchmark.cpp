// Keys on a real kernel, run inside the system test's virtual machine while a seat user's Varnu
// is served by the device service: a keyboard made with uinput stands for the hardware, and
// what the desktop would read is read back from the device that passes its keys on. A letter
// through the service (its reader, the filter, its uinput copy) against a bare loop on the same
// kernel that reads a keyboard the service leaves alone (it has no volume keys) and writes what
// it read to a uinput device of its own; and a volume key's way to Varnu and back (Varnu answers
// "pass", so the key comes out of the copy once Varnu has answered). Run as root.

#include "bench/LatencySamples.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/uinput.h>
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

using varnu::bench::LatencySamples;
using Clock = LatencySamples::Clock;
constexpr int kPatienceMs = 5000;

// A uinput keyboard with the given keys; its own input device's sysfs name.
class UinputKeyboard {
public:
    UinputKeyboard(const std::string& name, std::initializer_list<int> keys)
        : fd_(::open("/dev/uinput", O_RDWR | O_CLOEXEC)) {
        ::ioctl(fd_, UI_SET_EVBIT, EV_KEY);
        for (int key : keys) {
            ::ioctl(fd_, UI_SET_KEYBIT, key);
        }
        uinput_setup setup{};
        setup.id = {BUS_USB, 0x1d6b, 0x0104, 1};
        std::strncpy(setup.name, name.c_str(), sizeof setup.name - 1);
        ::ioctl(fd_, UI_DEV_SETUP, &setup);
        ::ioctl(fd_, UI_DEV_CREATE);
        char sysname[64] = {};
        ::ioctl(fd_, UI_GET_SYSNAME(sizeof sysname), sysname);
        sysname_ = sysname;
    }
    ~UinputKeyboard() {
        ::ioctl(fd_, UI_DEV_DESTROY);
        ::close(fd_);
    }
    void write(const input_event* events, std::size_t count) const {
        [[maybe_unused]] auto written = ::write(fd_, events, count * sizeof *events);
    }
    void key(int code, int value) const {
        input_event events[2] = {};
        events[0].type = EV_KEY;
        events[0].code = static_cast<std::uint16_t>(code);
        events[0].value = value;
        events[1].type = EV_SYN;
        write(events, 2);
    }
    const std::string& sysname() const { return sysname_; }

private:
    int fd_;
    std::string sysname_;
};

std::optional<std::string> eventNodeIn(const std::filesystem::path& input) {
    std::error_code error;
    for (const auto& child : std::filesystem::directory_iterator(input, error)) {
        auto node = child.path().filename().string();
        if (node.starts_with("event")) {
            return "/dev/input/" + node;
        }
    }
    return std::nullopt;
}

// The event node of an input device of that name other than the one named `except`.
std::optional<std::string> eventNodeOf(const std::string& name, const std::string& except) {
    for (int tries = 0; tries < kPatienceMs / 10; ++tries) {
        for (const auto& entry : std::filesystem::directory_iterator("/sys/class/input")) {
            auto input = entry.path().filename().string();
            if (!input.starts_with("input") || input == except) {
                continue;
            }
            std::string found;
            std::getline(std::ifstream(entry.path() / "name"), found);
            if (found == name) {
                if (auto node = eventNodeIn(entry.path())) {
                    return node;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return std::nullopt;
}

// Reads events from the node until that key with that value comes.
bool waitForKey(int fd, int code, int value) {
    input_event events[64];
    for (;;) {
        pollfd readable{fd, POLLIN, 0};
        if (::poll(&readable, 1, kPatienceMs) <= 0) {
            return false;
        }
        auto got = ::read(fd, events, sizeof events);
        for (ssize_t i = 0; i < got / static_cast<ssize_t>(sizeof *events); ++i) {
            if (events[i].type == EV_KEY && events[i].code == code && events[i].value == value) {
                return true;
            }
        }
    }
}

// Writes the key to the keyboard and times its coming out of the node, press and release.
void measure(benchmark::State& state, const UinputKeyboard& keyboard, int out, int code) {
    LatencySamples samples(state);
    for (auto _ : state) {
        const auto written = Clock::now();
        keyboard.key(code, 1);
        if (!waitForKey(out, code, 1)) {
            state.SkipWithError("the key did not come through");
            return;
        }
        samples.add(Clock::now() - written);
        keyboard.key(code, 0);
        waitForKey(out, code, 0);
    }
}

// Whether the service holds the device: a grab of its own fails.
bool heldBySomeone(const std::string& node) {
    int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
    for (int tries = 0; fd >= 0 && tries < kPatienceMs / 10; ++tries) {
        if (::ioctl(fd, EVIOCGRAB, 1) != 0) {
            ::close(fd);
            return true;
        }
        ::ioctl(fd, EVIOCGRAB, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fd);
    return false;
}

void throughTheService(benchmark::State& state, int code) {
    const std::string name = "varnu bench keyboard";
    UinputKeyboard keyboard(name, {KEY_A, KEY_VOLUMEUP, KEY_VOLUMEDOWN, KEY_MUTE});
    auto own = eventNodeIn("/sys/class/input/" + keyboard.sysname());
    auto copy = eventNodeOf(name, keyboard.sysname());
    int out = copy ? ::open(copy->c_str(), O_RDONLY | O_CLOEXEC) : -1;
    if (out < 0 || !own || !heldBySomeone(*own)) {
        state.SkipWithError("the service holds no copy: is a seat user's Varnu served?");
        return;
    }
    measure(state, keyboard, out, code);
    ::close(out);
}

void BM_LetterThroughTheServiceOnARealKernel(benchmark::State& state) {
    throughTheService(state, KEY_A);
}
BENCHMARK(BM_LetterThroughTheServiceOnARealKernel)->UseManualTime()->Iterations(500);

void BM_VolumeKeyThroughVarnuOnARealKernel(benchmark::State& state) {
    throughTheService(state, KEY_VOLUMEUP);
}
BENCHMARK(BM_VolumeKeyThroughVarnuOnARealKernel)->UseManualTime()->Iterations(500);

void BM_LetterThroughABareLoopOnARealKernel(benchmark::State& state) {
    const std::string name = "varnu bench plain keyboard";
    UinputKeyboard keyboard(name, {KEY_A});
    UinputKeyboard bareCopy("varnu bench bare copy", {KEY_A});
    auto original = eventNodeIn("/sys/class/input/" + keyboard.sysname());
    auto copy = eventNodeIn("/sys/class/input/" + bareCopy.sysname());
    int in = original ? ::open(original->c_str(), O_RDONLY | O_CLOEXEC) : -1;
    int out = copy ? ::open(copy->c_str(), O_RDONLY | O_CLOEXEC) : -1;
    int stop = ::eventfd(0, EFD_CLOEXEC);
    if (in < 0 || out < 0) {
        state.SkipWithError("the devices did not appear");
        return;
    }
    std::thread loop([&] {
        input_event events[64];
        pollfd fds[] = {{in, POLLIN, 0}, {stop, POLLIN, 0}};
        while (::poll(fds, 2, -1) > 0 && fds[1].revents == 0) {
            auto got = ::read(in, events, sizeof events);
            if (got > 0) {
                bareCopy.write(events, static_cast<std::size_t>(got) / sizeof *events);
            }
        }
    });
    measure(state, keyboard, out, KEY_A);
    std::uint64_t one = 1;
    [[maybe_unused]] auto written = ::write(stop, &one, sizeof one);
    loop.join();
    for (int fd : {in, out, stop}) {
        ::close(fd);
    }
}
BENCHMARK(BM_LetterThroughABareLoopOnARealKernel)->UseManualTime()->Iterations(500);

} // namespace

BENCHMARK_MAIN();
