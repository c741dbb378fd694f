// The real evdev tap (libudev, libevdev, the grab, the uinput clone, the reader thread) against
// keyboards emulated by umockdev.

#include "platform/linux/input/VolumeKeyEvents.h"
#include "tests/bed/input/KeyboardBed.h"

#include <algorithm>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Key = std::pair<std::uint16_t, std::int32_t>;
using Keys = std::vector<Key>;
using linux_backend::kAuxKeyRepeatFlag;
using linux_backend::kSoundUpKeyType;

const std::string kLaptop = laptopKeyboard().name;
const std::string kUsb = usbKeyboard().name;
const std::string kConsumer = usbConsumerControl().name;

std::int64_t data1Of(const TappedEvent& event) {
    return event.event ? event.event->data1 : -1;
}

class EvdevEventTapBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UmockdevBed::isActive()) << "run under umockdev-wrapper"; }
};

// A laptop's own keyboard and a USB keyboard's consumer-control node, both taken.
class LaptopWithConsumerControl : public EvdevEventTapBed {
protected:
    void start(std::function<TapDecision(const TappedEvent&)> decide) {
        machine.decide = std::move(decide);
        machine.startTap();
        ASSERT_TRUE(machine.until([&] { return laptop.isGrabbed() && consumer.isGrabbed(); }));
    }

    KeyboardBed machine;
    EmulatedEvdevDevice& laptop = machine.plug(laptopKeyboard());
    EmulatedEvdevDevice& consumer = machine.plug(usbConsumerControl());
};

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

    Keys typed;
    for (std::uint16_t code : {KEY_H, KEY_E, KEY_L, KEY_L, KEY_O, KEY_SPACE, KEY_ENTER}) {
        laptop.type(code);
        typed.emplace_back(code, 1);
        typed.emplace_back(code, 0);
    }
    laptop.press(KEY_LEFTSHIFT);
    laptop.type(KEY_A);
    laptop.release(KEY_LEFTSHIFT);
    laptop.send({{EV_MSC, MSC_SCAN, 0x1e}, {EV_KEY, KEY_B, 1}});
    laptop.send({{EV_KEY, KEY_B, 2}});
    laptop.release(KEY_B);
    Keys expected = typed;
    expected.insert(expected.end(), {{KEY_LEFTSHIFT, 1},
                                     {KEY_A, 1},
                                     {KEY_A, 0},
                                     {KEY_LEFTSHIFT, 0},
                                     {KEY_B, 1},
                                     {KEY_B, 2},
                                     {KEY_B, 0}});
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
    EXPECT_THAT(heard, ElementsAre(0x000A00, 0x000B00, 0x010A00, 0x000A00, 0x000B00, 0x070A00));
    EXPECT_THAT(machine.switchedOff, IsEmpty());
}

TEST_F(LaptopWithConsumerControl, HeldKeysStepAtTheKeyboardsRateAndAHeldMuteActsOnce) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
    auto repeatsHeard = [&] {
        return std::count_if(machine.heard.begin(), machine.heard.end(), [](const auto& event) {
            return (data1Of(event) & kAuxKeyRepeatFlag) != 0;
        });
    };

    // The consumer-control node does not repeat: held for a second, it steps as a keyboard
    // repeating after 600 ms at 25 Hz would, and stops with the release.
    consumer.press(KEY_VOLUMEUP);
    machine.pumpFor(milliseconds(450));
    EXPECT_EQ(repeatsHeard(), 0);
    ASSERT_TRUE(machine.until([&] { return repeatsHeard() >= 5; }, milliseconds(2000)));
    consumer.release(KEY_VOLUMEUP);
    machine.pumpFor(milliseconds(100));
    auto afterRelease = repeatsHeard();
    machine.pumpFor(milliseconds(300));
    EXPECT_EQ(repeatsHeard(), afterRelease);
    EXPECT_THAT(machine.keysOf(kConsumer), IsEmpty());

    // The laptop keyboard's driver repeats; those repeats, and only they, step.
    machine.heard.clear();
    laptop.press(KEY_VOLUMEDOWN);
    machine.pumpFor(milliseconds(700));
    EXPECT_EQ(repeatsHeard(), 0);
    laptop.repeat(KEY_VOLUMEDOWN);
    laptop.repeat(KEY_VOLUMEDOWN);
    laptop.release(KEY_VOLUMEDOWN);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() >= 4; }));
    EXPECT_EQ(repeatsHeard(), 2);

    // A held mute mutes once, on either kind of keyboard.
    machine.heard.clear();
    consumer.press(KEY_MUTE);
    laptop.press(KEY_MUTE);
    machine.pumpFor(milliseconds(900));
    laptop.repeat(KEY_MUTE);
    laptop.release(KEY_MUTE);
    consumer.release(KEY_MUTE);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() >= 4; }));
    machine.pumpFor(milliseconds(50));
    EXPECT_EQ(machine.heard.size(), 4u);
    EXPECT_EQ(repeatsHeard(), 0);
}

TEST_F(LaptopWithConsumerControl, AKeyboardUnpluggedMidPressTakesItsCloneAlongAndComesBackWhole) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
    consumer.press(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() == 1; }));
    consumer.unplug();
    ASSERT_TRUE(machine.until([&] { return !machine.clone(kConsumer); }));
    EXPECT_EQ(machine.clonesNamed(kConsumer), 1);
    // The other keyboard never noticed.
    laptop.type(KEY_A);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() == 2; }));

    auto& again = machine.plug(usbConsumerControl(), true);
    ASSERT_TRUE(machine.until([&] { return again.isGrabbed() && machine.clone(kConsumer); }));
    EXPECT_EQ(machine.clonesNamed(kConsumer), 2);
    again.type(KEY_PLAYPAUSE);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 2; }));
    EXPECT_THAT(machine.switchedOff, IsEmpty());
}

TEST_F(EvdevEventTapBed, ABusyKeyboardIsRetriedAndNoKeystrokeIsRepeatedOrLostAroundTheGrab) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    auto& consumer = machine.plug(usbConsumerControl());
    laptop.refuseGrabs(true);
    consumer.refuseGrabs(true);
    machine.startTap(milliseconds(300));
    ASSERT_TRUE(machine.until([&] { return laptop.grabAttempts() > 0; }));
    // Meanwhile the keys reach the desktop from the keyboard itself, not from a clone.
    laptop.type(KEY_Q);
    ASSERT_TRUE(machine.until([&] { return laptop.grabAttempts() > 2; }));
    EXPECT_THAT(machine.keysOf(kLaptop), IsEmpty());
    EXPECT_THAT(machine.diagnostics.str(),
                HasSubstr("cannot take the volume keys of " + kLaptop +
                          ": another program holds the keyboard; trying again"));

    // The program lets go; the next retry takes the keyboard. A frame the desktop got just
    // before the grab is not sent again; one that came after it goes through the clone.
    laptop.onGrab([&] {
        laptop.send({{EV_KEY, KEY_W, 1}}, milliseconds(2000));
        laptop.send({{EV_KEY, KEY_W, 0}}, milliseconds(1900));
    });
    laptop.refuseGrabs(false);
    ASSERT_TRUE(laptop.waitUntilGrabbed(true, milliseconds(3000)));
    laptop.type(KEY_E);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() >= 2; }));
    machine.pumpFor(milliseconds(50));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAre(Key{KEY_E, 1}, Key{KEY_E, 0}));

    // A udev change event is a moment to try again too, without waiting for the timer.
    machine.stopTap();
    auto before = consumer.grabAttempts();
    machine.startTap(milliseconds(60000));
    ASSERT_TRUE(machine.until([&] { return consumer.grabAttempts() > before; }));
    auto attempts = consumer.grabAttempts();
    consumer.refuseGrabs(false);
    machine.pumpFor(milliseconds(100));
    EXPECT_EQ(consumer.grabAttempts(), attempts);
    consumer.announceChange();
    ASSERT_TRUE(machine.until([&] { return consumer.isGrabbed(); }));
}

TEST_F(EvdevEventTapBed, AChangeEventGivesTheCloneTheKeyboardsNewKeys) {
    KeyboardBed machine;
    auto& consumer = machine.plug(usbConsumerControl());
    machine.startTap();
    ASSERT_TRUE(machine.until([&] { return machine.clone(kConsumer).has_value(); }));
    auto remapped = usbConsumerControl();
    remapped.codes[EV_KEY].insert(KEY_F20);
    consumer.redescribe(remapped);
    consumer.announceChange();
    ASSERT_TRUE(machine.until([&] {
        auto clone = machine.clone(kConsumer);
        return clone && clone->description.codes[EV_KEY].contains(KEY_F20) && consumer.isGrabbed();
    }));
    EXPECT_EQ(machine.clonesNamed(kConsumer), 2);
    consumer.type(KEY_F20);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 2; }));
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

TEST_F(LaptopWithConsumerControl, AnInactiveSessionNeitherReadsNorGrabsUntilItIsActiveAgain) {
    ASSERT_NO_FATAL_FAILURE(start(swallowVolumeUp));
    machine.session->setActive(false);
    ASSERT_TRUE(laptop.waitUntilGrabbed(false, milliseconds(3000)));
    ASSERT_TRUE(consumer.waitUntilGrabbed(false, milliseconds(3000)));
    ASSERT_TRUE(
        machine.until([&] { return !machine.clone(kLaptop) && !machine.clone(kConsumer); }));
    // The other user's keys are not read: the tap closed the devices.
    consumer.type(KEY_VOLUMEUP);
    machine.pumpFor(milliseconds(100));
    EXPECT_THAT(machine.heard, IsEmpty());

    machine.session->setActive(true);
    ASSERT_TRUE(machine.until([&] {
        return laptop.isGrabbed() && consumer.isGrabbed() && machine.clone(kLaptop) &&
               machine.clone(kConsumer);
    }));
    laptop.type(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() == 2; }));
}

TEST_F(EvdevEventTapBed, SwitchesAndPointersWithVolumeKeysAreLeftAlone) {
    KeyboardBed machine;
    auto& hotkeys = machine.plug(hotkeysWithTabletSwitch());
    auto& mouse = machine.plug(mouseWithVolumeKeys());
    auto& consumer = machine.plug(usbConsumerControl());
    machine.startTap();
    ASSERT_TRUE(machine.until([&] { return consumer.isGrabbed(); }));
    machine.pumpFor(milliseconds(100));
    EXPECT_EQ(hotkeys.grabAttempts(), 0);
    EXPECT_EQ(mouse.grabAttempts(), 0);
    auto created = machine.uinput.devices();
    std::erase_if(created, [](const VirtualDevice& device) { return !device.created; });
    ASSERT_EQ(created.size(), 1u);
    EXPECT_EQ(created[0].description.name, kConsumer);
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

#ifdef VARNU_PROBE_PATH
TEST_F(EvdevEventTapBed, TheProbeNamesEachKeyboardWithVolumeKeysAndWhyItCannotBeTaken) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    machine.plug(usbConsumerControl());
    machine.plug(hotkeysWithTabletSwitch());
    machine.plug(mouseWithVolumeKeys());
    laptop.refuseGrabs(true);
    // The probe is a process of its own; it sees the same emulated devices.
    std::string output;
    FILE* pipe = ::popen(VARNU_PROBE_PATH " 2>&1", "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe)) {
        output += buffer;
    }
    ::pclose(pipe);
    EXPECT_THAT(output, HasSubstr("/dev/input/event1  \"" + kLaptop +
                                  "\"  busy: another program holds it"));
    EXPECT_THAT(output, HasSubstr("/dev/input/event2  \"" + kConsumer + "\"  can be taken"));
    EXPECT_THAT(output, HasSubstr("\"Intel HID events\"  left alone: it also reports switches"));
    EXPECT_THAT(output, HasSubstr("\"Logitech MX Master 3\"  left alone: it moves a pointer"));
}
#endif

} // namespace
} // namespace varnu::bed
