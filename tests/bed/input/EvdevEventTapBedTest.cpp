// The real evdev tap (libudev, libevdev, the grab, the uinput clone, the reader thread) against
// keyboards emulated by umockdev.

#include "platform/linux/input/TapDevices.h"
#include "platform/linux/input/VolumeKeyEvents.h"
#include "tests/bed/input/TapBedFixtures.h"

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {
namespace {

using ::testing::ElementsAreArray;
using Keys = std::vector<Key>;
using linux_backend::kAuxKeyRepeatFlag;
using linux_backend::kSoundUpKeyType;

const std::string kUsb = usbKeyboard().name;

std::int64_t data1Of(const TappedEvent& event) {
    return event.event ? event.event->data1 : -1;
}

std::int64_t data1(std::uint16_t code, std::int32_t value) {
    return linux_backend::systemDefinedEvent(code, value, 0)->data1;
}

TEST_F(EvdevEventTapBed, ClonesKeepTheKeyboardsIdentityAndPassTypingUnchangedAndInOrder) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    auto& usb = machine.plug(usbKeyboard());
    auto& consumer = machine.plug(usbConsumerControl());
    machine.startTap();
    ASSERT_TRUE(machine.until([&] {
        return machine.clone(kLaptop) && machine.clone(kConsumer) && laptop.isGrabbed() &&
               consumer.isGrabbed();
    }));
    // The USB keyboard has no volume keys: read for its modifiers, never grabbed.
    EXPECT_FALSE(usb.isGrabbed());
    EXPECT_FALSE(machine.clone(kUsb));
    for (auto* original : {&laptop, &consumer}) {
        auto description = original->description();
        auto clone = machine.clone(description.name);
        ASSERT_TRUE(clone);
        EXPECT_EQ(clone->description.phys, description.phys);
        EXPECT_EQ(clone->description.id.bustype, description.id.bustype);
        EXPECT_EQ(clone->description.id.vendor, description.id.vendor);
        EXPECT_EQ(clone->description.id.product, description.id.product);
        EXPECT_EQ(clone->description.id.version, description.id.version);
        EXPECT_EQ(clone->description.properties, description.properties);
        EXPECT_EQ(clone->description.codes[EV_KEY], description.codes[EV_KEY]);
        // udev announced the clone; it is known for what it is and never opened.
        EXPECT_FALSE(clone->device->everOpened());
    }
    EXPECT_EQ(machine.clone(kConsumer)->description.codes[EV_REL],
              std::set<std::uint16_t>{REL_HWHEEL});

    laptop.type(KEY_H);
    laptop.press(KEY_LEFTSHIFT);
    laptop.type(KEY_A);
    laptop.release(KEY_LEFTSHIFT);
    laptop.send({{EV_MSC, MSC_SCAN, 0x1e}, {EV_KEY, KEY_B, 1}});
    laptop.send({{EV_KEY, KEY_B, 2}});
    laptop.release(KEY_B);
    const Keys expected{{KEY_H, 1},         {KEY_H, 0}, {KEY_LEFTSHIFT, 1}, {KEY_A, 1}, {KEY_A, 0},
                        {KEY_LEFTSHIFT, 0}, {KEY_B, 1}, {KEY_B, 2},         {KEY_B, 0}};
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() >= expected.size(); }));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAreArray(expected));
    // Frames stay frames: the scan code and its key, then the report that closes them.
    auto events = machine.clone(kLaptop)->events;
    auto scan = std::find_if(events.begin(), events.end(),
                             [](const SentEvent& event) { return event.type == EV_MSC; });
    ASSERT_NE(scan, events.end());
    ASSERT_GE(events.end() - scan, 3);
    EXPECT_EQ(scan[1].code, KEY_B);
    EXPECT_EQ(scan[2].type, EV_SYN);
    EXPECT_THAT(machine.heard, IsEmpty());
}

// The core stand-in's answers by key: volume up swallowed, everything else passed.
TapDecision swallowVolumeUp(const TappedEvent& event) {
    return event.event && (data1Of(event) >> 16) == kSoundUpKeyType ? TapDecision::Swallow
                                                                    : TapDecision::Pass;
}

TEST_F(LaptopWithConsumerControl, AVolumeKeyIsSwallowedOrPassedAsTheCoreDecidesOnEitherKeyboard) {
    ASSERT_NO_FATAL_FAILURE(start(swallowVolumeUp));

    consumer.type(KEY_VOLUMEUP);
    consumer.type(KEY_VOLUMEDOWN);
    ASSERT_TRUE(machine.until(
        [&] { return machine.keysOf(kConsumer).size() >= 2 && machine.heard.size() >= 3; }));
    laptop.type(KEY_VOLUMEUP);
    laptop.type(KEY_MUTE);
    ASSERT_TRUE(machine.until(
        [&] { return machine.keysOf(kLaptop).size() >= 2 && machine.heard.size() >= 6; }));
    machine.pumpFor(milliseconds(50));
    EXPECT_THAT(machine.keysOf(kConsumer),
                ElementsAre(Key{KEY_VOLUMEDOWN, 1}, Key{KEY_VOLUMEDOWN, 0}));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAre(Key{KEY_MUTE, 1}, Key{KEY_MUTE, 0}));
    // Asked at each press, told of each swallowed release; a passed key's release is the
    // desktop's.
    std::vector<std::int64_t> heard;
    for (const auto& event : machine.heard) {
        heard.push_back(data1Of(event));
    }
    using linux_backend::kKeyPressed;
    using linux_backend::kKeyReleased;
    EXPECT_THAT(heard,
                ElementsAre(data1(KEY_VOLUMEUP, kKeyPressed), data1(KEY_VOLUMEUP, kKeyReleased),
                            data1(KEY_VOLUMEDOWN, kKeyPressed), data1(KEY_VOLUMEUP, kKeyPressed),
                            data1(KEY_VOLUMEUP, kKeyReleased), data1(KEY_MUTE, kKeyPressed)));
    EXPECT_THAT(machine.switchedOff, IsEmpty());
}

// The rates and the held mute are the filter's; here, which devices get repeats made for them.
TEST_F(LaptopWithConsumerControl, OnlyKeyboardsWhoseDriverDoesNotRepeatGetRepeatsMadeForThem) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
    auto repeatsHeard = [&] {
        return std::count_if(machine.heard.begin(), machine.heard.end(), [](const auto& event) {
            return (data1Of(event) & kAuxKeyRepeatFlag) != 0;
        });
    };
    // The consumer-control node reports no EV_REP: held, it steps until it is released.
    consumer.press(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return repeatsHeard() >= 3; }, milliseconds(2000)));
    consumer.release(KEY_VOLUMEUP);
    machine.pumpFor(milliseconds(100));
    auto afterRelease = repeatsHeard();
    machine.pumpFor(milliseconds(300));
    EXPECT_EQ(repeatsHeard(), afterRelease);

    // The laptop keyboard's driver repeats: only its own repeats would step.
    machine.heard.clear();
    laptop.press(KEY_VOLUMEDOWN);
    machine.pumpFor(milliseconds(800));
    EXPECT_EQ(repeatsHeard(), 0);
    laptop.release(KEY_VOLUMEDOWN);
}

TEST_F(EvdevEventTapBed, AStuckMainThreadHoldsNoKeyboardLongerThanTheBound) {
    KeyboardBed machine;
    auto& consumer = machine.plug(usbConsumerControl());
    bool passedWhileDeciding = false;
    machine.decide = [&](const TappedEvent&) {
        // The main thread hangs in the middle of its decision.
        auto until = std::chrono::steady_clock::now() + milliseconds(1500);
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

TEST_F(EvdevEventTapBed, KeyboardsWithAPointerAreTakenAndTheirPointerPassesUnchangedInOrder) {
    KeyboardBed machine;
    auto& keyboard = machine.plug(keyboardWithTouchpad());
    auto& receiver = machine.plug(mouseWithVolumeKeys());
    auto& touchpad = machine.plug(touchpadWithVolumeKeys());
    auto& hotkeys = machine.plug(hotkeysWithTabletSwitch());
    machine.decide = swallowVolumeUp;
    machine.startTap();
    auto name = keyboard.description().name;
    ASSERT_TRUE(machine.until([&] { return keyboard.isGrabbed() && receiver.isGrabbed(); }));
    // Touch surfaces and switches stay with their own device.
    EXPECT_EQ(touchpad.grabAttempts() + hotkeys.grabAttempts(), 0);
    // The desktop treats the clone as the same pointer.
    auto clone = machine.clone(name);
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->description.codes[EV_REL], keyboard.description().codes[EV_REL]);
    EXPECT_EQ(clone->description.codes[EV_KEY], keyboard.description().codes[EV_KEY]);

    const std::vector<std::vector<SentEvent>> frames{
        {{EV_KEY, KEY_A, 1}},        {{EV_REL, REL_X, 5}, {EV_REL, REL_Y, -3}},
        {{EV_KEY, BTN_LEFT, 1}},     {{EV_KEY, KEY_A, 0}, {EV_REL, REL_X, 1}},
        {{EV_KEY, KEY_VOLUMEUP, 1}}, {{EV_REL, REL_WHEEL, -1}},
        {{EV_KEY, KEY_VOLUMEUP, 0}}, {{EV_KEY, BTN_LEFT, 0}},
        {{EV_REL, REL_HWHEEL, 1}},
    };
    std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>> expected;
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
    auto eventsOf = [&](const std::string& device) {
        std::vector<std::tuple<std::uint16_t, std::uint16_t, std::int32_t>> events;
        if (auto clone = machine.clone(device)) {
            for (const auto& event : clone->events) {
                events.emplace_back(event.type, event.code, event.value);
            }
        }
        return events;
    };
    ASSERT_TRUE(machine.until([&] {
        return eventsOf(name).size() >= expected.size() &&
               machine.keysOf(receiver.description().name).size() == 2;
    }));
    machine.pumpFor(milliseconds(50));
    EXPECT_THAT(eventsOf(name), ElementsAreArray(expected));
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

TEST(EvdevEventTapJobControl, StopSignalsCannotStopTheProcessWhileItHoldsTheKeyboards) {
    ASSERT_TRUE(UmockdevBed::isActive()) << "run under umockdev-wrapper";
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 1;
        {
            KeyboardBed machine;
            auto& laptop = machine.plug(laptopKeyboard());
            machine.startTap();
            if (machine.until([&] { return laptop.isGrabbed(); })) {
                for (int signal : {SIGTSTP, SIGTTIN, SIGTTOU}) {
                    ::raise(signal);
                }
                status = 0;
            }
            machine.stopTap();
            struct sigaction action {};
            ::sigaction(SIGTSTP, nullptr, &action);
            if (action.sa_handler != SIG_DFL) {
                status = 2;
            }
        }
        ::_exit(status);
    }
    int status = 0;
    pid_t waited = 0;
    for (int tries = 0; tries < 1000 && waited == 0; ++tries) {
        waited = ::waitpid(child, &status, WUNTRACED | WNOHANG);
        std::this_thread::sleep_for(milliseconds(10));
    }
    if (waited == 0 || WIFSTOPPED(status)) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        FAIL() << (waited == 0 ? "no answer" : "stopped by a signal");
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

} // namespace
} // namespace varnu::bed
