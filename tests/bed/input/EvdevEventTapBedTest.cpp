// The real evdev tap (libudev, libevdev, the grab, the uinput clone, the reader thread) against
// keyboards emulated by umockdev.

#include "platform/linux/input/TapDevices.h"
#include "platform/linux/input/VolumeKeyEvents.h"
#include "tests/bed/input/TapBedFixtures.h"

#include <algorithm>
#include <csignal>
#include <set>
#include <thread>
#include <tuple>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {
namespace {

using linux_backend::kSoundUpKeyType;
using ::testing::ElementsAreArray;

std::int64_t data1Of(const TappedEvent& event) {
    return event.event ? event.event->data1 : -1;
}

std::int64_t data1(std::uint16_t code, std::int32_t value) {
    return linux_backend::systemDefinedEvent(code, value, 0)->data1;
}

// The core stand-in's answers by key: volume up swallowed, everything else passed.
TapDecision swallowVolumeUp(const TappedEvent& event) {
    return event.event && (data1Of(event) >> 16) == kSoundUpKeyType ? TapDecision::Swallow
                                                                    : TapDecision::Pass;
}

using Events = std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>>;

Events eventsOf(const KeyboardBed& machine, const std::string& device) {
    Events events;
    if (auto clone = machine.clone(device)) {
        for (const auto& event : clone->events) {
            events.emplace_back(event.type, event.code, event.value);
        }
    }
    return events;
}

TEST_F(EvdevEventTapBed, ClonesKeepTheDevicesIdentityAndPassKeysAndPointerUnchangedAndInOrder) {
    KeyboardBed machine;
    auto& keyboard = machine.plug(keyboardWithTouchpad());
    auto& receiver = machine.plug(mouseWithVolumeKeys());
    auto& usb = machine.plug(usbKeyboard());
    auto& touchpad = machine.plug(touchpadWithVolumeKeys());
    auto& hotkeys = machine.plug(hotkeysWithTabletSwitch());
    machine.decide = swallowVolumeUp;
    machine.startTap();
    const auto name = keyboard.description().name;
    ASSERT_TRUE(machine.until([&] { return keyboard.isGrabbed() && receiver.isGrabbed(); }));
    // A keyboard without volume keys is only read, for its modifiers; touch surfaces and
    // switches stay with their own device.
    EXPECT_EQ(usb.grabAttempts() + touchpad.grabAttempts() + hotkeys.grabAttempts(), 0);
    // The desktop and its per-device settings take the clone for the device itself.
    auto original = keyboard.description();
    auto clone = machine.clone(name)->description;
    EXPECT_EQ(std::tie(clone.phys, clone.id.bustype, clone.id.vendor, clone.id.product,
                       clone.id.version, clone.properties, clone.codes[EV_KEY],
                       clone.codes[EV_REL]),
              std::tie(original.phys, original.id.bustype, original.id.vendor, original.id.product,
                       original.id.version, original.properties, original.codes[EV_KEY],
                       original.codes[EV_REL]));

    const std::vector<std::vector<SentEvent>> frames{
        {{EV_MSC, MSC_SCAN, 0x1e}, {EV_KEY, KEY_A, 1}},
        {{EV_REL, REL_X, 5}, {EV_REL, REL_Y, -3}},
        {{EV_KEY, BTN_LEFT, 1}},
        {{EV_KEY, KEY_A, 2}},
        {{EV_KEY, KEY_A, 0}, {EV_REL, REL_X, 1}},
        {{EV_KEY, KEY_VOLUMEUP, 1}},
        {{EV_REL, REL_WHEEL, -1}},
        {{EV_KEY, KEY_VOLUMEUP, 0}},
        {{EV_KEY, BTN_LEFT, 0}},
        {{EV_REL, REL_HWHEEL, 1}},
    };
    Events expected;
    for (const auto& frame : frames) {
        keyboard.send(frame);
        for (const auto& event : frame) {
            if (event.code != KEY_VOLUMEUP) {
                expected.emplace_back(event.type, event.code, event.value);
            }
        }
        // A frame left empty by a swallowed key never reaches a reader.
        if (frame[0].code != KEY_VOLUMEUP) {
            expected.emplace_back(EV_SYN, SYN_REPORT, 0);
        }
    }
    receiver.send({{EV_REL, REL_Y, 2}});
    receiver.type(KEY_VOLUMEDOWN);
    ASSERT_TRUE(machine.until([&] {
        return eventsOf(machine, name).size() >= expected.size() &&
               machine.keysOf(receiver.description().name).size() == 2;
    }));
    machine.pumpFor(milliseconds(50));
    EXPECT_THAT(eventsOf(machine, name), ElementsAreArray(expected));

    // Job control cannot stop the process while it holds keyboards, and can once it lets go.
    auto stopSignals = [] {
        std::set<void (*)(int)> handlers;
        for (int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
            struct sigaction action {};
            ::sigaction(signal, nullptr, &action);
            handlers.insert(action.sa_handler);
        }
        return handlers;
    };
    // Through the device service, Varnu holds none.
    if (!bedTapGoesThroughService()) {
        EXPECT_EQ(stopSignals(), std::set<void (*)(int)>{SIG_IGN});
        machine.stopTap();
        EXPECT_EQ(stopSignals(), std::set<void (*)(int)>{SIG_DFL});
    }
}

TEST_F(EvdevEventTapBed, AStuckMainThreadHoldsNoKeyboardLongerThanTheBound) {
    if (bedTapGoesThroughService()) {
        GTEST_SKIP() << "the service lets go of every keyboard instead (the devices bed's test "
                        "of a client that hangs)";
    }
    KeyboardBed machine;
    auto& consumer = machine.plug(usbConsumerControl());
    bool passedWhileDeciding = false;
    machine.decide = [&](const TappedEvent&) {
        // The main thread hangs in the middle of its decision.
        auto until = std::chrono::steady_clock::now() + milliseconds(10000);
        while (std::chrono::steady_clock::now() < until && !passedWhileDeciding) {
            auto keys = machine.keysOf(kConsumer);
            passedWhileDeciding = keys.size() >= 3;
            std::this_thread::sleep_for(milliseconds(5));
        }
        return TapDecision::Swallow;
    };
    machine.startTap();
    ASSERT_TRUE(machine.until([&] { return consumer.isGrabbed(); }));
    consumer.press(KEY_VOLUMEUP);
    consumer.type(KEY_PLAYPAUSE);
    ASSERT_TRUE(machine.until([&] { return !machine.heard.empty(); }));
    EXPECT_TRUE(passedWhileDeciding);
    consumer.release(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 4; }));
    EXPECT_THAT(machine.keysOf(kConsumer),
                ElementsAre(Key{KEY_VOLUMEUP, 1}, Key{KEY_PLAYPAUSE, 1}, Key{KEY_PLAYPAUSE, 0},
                            Key{KEY_VOLUMEUP, 0}));
    ASSERT_TRUE(machine.until([&] { return !machine.switchedOff.empty(); }));
    EXPECT_EQ(machine.switchedOff[0], kCGEventTapDisabledByTimeout);
}

// A device that floods events is read a round's share at a time; the other keyboards are read
// in between. Counted in events, not time: while the flood goes on, a key on another keyboard
// waits for two rounds of the flooding device at most, and neither loses or reorders anything.
TEST_F(EvdevEventTapBed, AFloodingDeviceHoldsAnotherKeyboardUpForNoMoreThanTwoRoundsOfItsEvents) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    auto& receiver = machine.plug(mouseWithVolumeKeys());
    const auto mouse = receiver.description().name;
    machine.startTap();
    ASSERT_TRUE(machine.until([&] { return laptop.isGrabbed() && receiver.isGrabbed(); }));
    auto motion = [&](const std::vector<VirtualDevice>& devices) {
        for (const auto& device : devices) {
            if (device.description.name == mouse && !device.destroyed) {
                return device.events.size() / 2;
            }
        }
        return std::size_t{0};
    };
    // Motion frames as fast as the reader takes them, never so many that the kernel drops any.
    constexpr std::size_t kFrames = 1000;
    constexpr std::size_t kInFlight = 31;
    std::jthread flood([&](std::stop_token stop) {
        for (std::size_t frame = 1; frame <= kFrames && !stop.stop_requested(); ++frame) {
            machine.uinput.waitFor(
                [&](const auto& devices) { return frame - motion(devices) <= kInFlight; },
                milliseconds(10000));
            receiver.send({{EV_REL, REL_X, static_cast<std::int32_t>(frame)}});
        }
    });
    ASSERT_TRUE(machine.until([&] { return motion(machine.uinput.devices()) >= 100; }));
    auto before = 2 * motion(machine.uinput.devices());
    laptop.type(KEY_A);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() == 2; }));
    auto pressed = machine.clone(kLaptop)->arrivals.front();
    auto arrivals = machine.clone(mouse)->arrivals;
    auto ahead = std::count_if(arrivals.begin() + static_cast<std::ptrdiff_t>(before),
                               arrivals.end(), [&](auto at) { return at < pressed; });
    EXPECT_LE(ahead, 2 * static_cast<std::ptrdiff_t>(linux_backend::TapDevices::kEventsPerRound));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAre(Key{KEY_A, 1}, Key{KEY_A, 0}));
    ASSERT_TRUE(machine.until([&] { return motion(machine.uinput.devices()) == kFrames; }));
    auto events = machine.clone(mouse)->events;
    for (std::size_t frame = 1; frame <= kFrames; ++frame) {
        ASSERT_EQ(events[2 * (frame - 1)].value, static_cast<std::int32_t>(frame));
    }
}

// The kernel drops a reader's queue that overflows and says so; the keys' state comes back
// from the device itself.
TEST_F(LaptopWithConsumerControl, DroppedEventsLeaveNoKeyStuckAndDecideNoKeyTwice) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) {
        // Still deciding when the queue overflows.
        std::this_thread::sleep_for(milliseconds(100));
        return TapDecision::Swallow;
    }));
    laptop.press(KEY_A);
    laptop.press(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return !machine.heard.empty(); }));
    std::vector<SentEvent> burst{{EV_KEY, KEY_VOLUMEUP, 0}, {EV_KEY, KEY_A, 0}};
    for (int scan = 0; scan < static_cast<int>(EmulatedEvdevDevice::kQueueEvents); ++scan) {
        burst.push_back({EV_MSC, MSC_SCAN, scan});
    }
    laptop.send(burst);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() >= 2; }));
    machine.pumpFor(milliseconds(300));
    using linux_backend::kKeyPressed;
    using linux_backend::kKeyReleased;
    std::vector<std::int64_t> heard;
    for (const auto& event : machine.heard) {
        heard.push_back(data1Of(event));
    }
    EXPECT_THAT(heard,
                ElementsAre(data1(KEY_VOLUMEUP, kKeyPressed), data1(KEY_VOLUMEUP, kKeyReleased)));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAre(Key{KEY_A, 1}, Key{KEY_A, 0}));
    // The keyboard goes on as before.
    laptop.type(KEY_B);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() == 4; }));
}

} // namespace
} // namespace varnu::bed
