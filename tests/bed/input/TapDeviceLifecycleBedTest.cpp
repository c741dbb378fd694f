// The life of the keyboards the real evdev tap holds, against keyboards emulated by umockdev:
// unplugged and plugged again, held by another program, remapped, while the session is away,
// and those it leaves alone.

#include "tests/bed/input/TapBedFixtures.h"

#include <cstdio>

#include <gmock/gmock.h>

namespace varnu::bed {
namespace {

using ::testing::HasSubstr;

TEST_F(LaptopWithConsumerControl, AKeyboardUnpluggedInEitherOrderLeavesNoKeyHeldAndComesBackWhole) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
    auto* device = &consumer;
    for (bool hangUpFirst : {true, false}) {
        SCOPED_TRACE(hangUpFirst ? "hang-up first" : "udev's remove first");
        auto clones = machine.clonesNamed(kConsumer);
        auto typed = machine.keysOf(kLaptop).size();
        // Held: its driver does not repeat, so the tap makes the repeats the core hears.
        device->press(KEY_VOLUMEUP);
        ASSERT_TRUE(machine.until([&] { return machine.heard.size() >= 2; }));
        hangUpFirst ? device->hangUp() : device->unplug();
        ASSERT_TRUE(machine.until([&] { return !machine.clone(kConsumer); }));
        hangUpFirst ? device->unplug() : device->hangUp();
        // The other keyboard never noticed, and the key that never came up repeats no more.
        laptop.type(KEY_A);
        ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() == typed + 2; }));
        auto heard = machine.heard.size();
        machine.pumpFor(milliseconds(200));
        EXPECT_EQ(machine.heard.size(), heard);

        device = &machine.plug(usbConsumerControl(), true);
        ASSERT_TRUE(machine.until([&] { return device->isGrabbed() && machine.clone(kConsumer); }));
        EXPECT_EQ(machine.clonesNamed(kConsumer), clones + 1);
        device->type(KEY_PLAYPAUSE);
        ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() >= 2; }));
        EXPECT_THAT(machine.keysOf(kConsumer),
                    ElementsAre(Key{KEY_PLAYPAUSE, 1}, Key{KEY_PLAYPAUSE, 0}));
        machine.heard.clear();
    }
    EXPECT_THAT(machine.switchedOff, IsEmpty());
}

TEST_F(EvdevEventTapBed, ABusyKeyboardIsRetriedAndTakenWithNoKeystrokeRepeatedLostOrLeftHeld) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    laptop.holdByOther(true);
    machine.startTap(milliseconds(200));
    ASSERT_TRUE(machine.until([&] { return laptop.grabAttempts() > 2; }));
    EXPECT_THAT(machine.said(), HasSubstr("cannot take the volume keys of " + kLaptop +
                                          ": another program holds the keyboard; trying again"));
    // The program lets go as the desktop has had a whole keystroke and a press from the
    // keyboard itself. The keystroke is not sent again; the held key makes the tap let go until
    // it is up, so that its release reaches the desktop too.
    laptop.onGrab([&] {
        laptop.onGrab({});
        laptop.send({{EV_KEY, KEY_W, 1}}, milliseconds(2000));
        laptop.send({{EV_KEY, KEY_W, 0}}, milliseconds(1900));
        laptop.send({{EV_KEY, KEY_X, 1}}, milliseconds(1000));
    });
    laptop.holdByOther(false);
    ASSERT_TRUE(machine.until([&] { return laptop.grabs() == 1 && !laptop.isGrabbed(); }));
    laptop.release(KEY_X);
    ASSERT_TRUE(machine.until([&] { return laptop.isGrabbed(); }));
    laptop.type(KEY_E);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() >= 2; }));
    machine.pumpFor(milliseconds(50));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAre(Key{KEY_E, 1}, Key{KEY_E, 0}));
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

TEST_F(LaptopWithConsumerControl, AnInactiveSessionNeitherReadsNorGrabsUntilItIsActiveAgain) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
    machine.session.setActive(false);
    ASSERT_TRUE(machine.until([&] {
        return !laptop.isGrabbed() && !consumer.isGrabbed() && !machine.clone(kLaptop) &&
               !machine.clone(kConsumer);
    }));
    // The other user's keys are not read: the tap closed the devices.
    consumer.type(KEY_VOLUMEUP);
    machine.pumpFor(milliseconds(100));
    EXPECT_THAT(machine.heard, IsEmpty());

    machine.session.setActive(true);
    ASSERT_TRUE(machine.until([&] {
        return laptop.isGrabbed() && consumer.isGrabbed() && machine.clone(kLaptop) &&
               machine.clone(kConsumer);
    }));
    laptop.type(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return machine.heard.size() == 2; }));
}

TEST_F(EvdevEventTapBed, AKeyboardIsTakenOnceItsCloneIsAnnouncedAndLeftToTheDesktopIfItNeverIs) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    machine.uinput.announceAfter(std::nullopt);
    machine.startTap(milliseconds(3000), milliseconds(300));
    ASSERT_TRUE(machine.until([&] {
        return machine.said().find("udev did not announce") != std::string::npos &&
               !machine.clone(kLaptop);
    }));
    EXPECT_FALSE(laptop.isGrabbed());
    EXPECT_EQ(machine.clonesNamed(kLaptop), 1);
}

TEST_F(EvdevEventTapBed, AReleaseOnlyAnotherProgramSawLeavesNoKeyOrModifierHeld) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    // Shift is down as Varnu opens the keyboard another program holds, and comes up unseen.
    laptop.holdByOther(true);
    laptop.press(KEY_LEFTSHIFT);
    machine.decide = [](const TappedEvent&) { return TapDecision::Swallow; };
    machine.startTap(milliseconds(200));
    ASSERT_TRUE(machine.until([&] { return machine.clone(kLaptop).has_value(); }));
    laptop.release(KEY_LEFTSHIFT);
    // Idle for the kernel: the tap tries to take it, and does once the other program lets go.
    ASSERT_TRUE(machine.until([&] { return laptop.grabAttempts() > 0; }));
    laptop.holdByOther(false);
    ASSERT_TRUE(machine.until([&] { return laptop.isGrabbed(); }));
    laptop.press(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return !machine.heard.empty(); }));
    EXPECT_EQ(machine.heard[0].event->modifierFlags, 0u);
    // Held past its delay: the keyboard's driver repeats keys itself, so the tap makes none.
    machine.pumpFor(milliseconds(400));
    EXPECT_EQ(machine.heard.size(), 1u);
}

TEST_F(LaptopWithConsumerControl,
       ASecondTapLeavesTheFirstOnesClonesAloneAndLightsReachTheKeyboard) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Pass; }));
    // By the time the second tap tries to take the laptop, it has looked at every device.
    auto attempts = laptop.grabAttempts();
    auto second = machine.createTap();
    ASSERT_TRUE(machine.until([&] { return laptop.grabAttempts() > attempts; }));
    EXPECT_EQ(machine.clonesNamed(kLaptop), 2);
    EXPECT_EQ(machine.clonesNamed(kConsumer), 2);
    second.reset();
    // The desktop lights Caps Lock on the clone.
    machine.uinput.writeLed(LED_CAPSL, 1);
    ASSERT_TRUE(machine.until([&] { return laptop.leds()[LED_CAPSL] == 1; }));
}

#ifdef VARNU_PROBE_PATH
TEST_F(EvdevEventTapBed, TheProbeNamesEachKeyboardWithVolumeKeysAndWhyItCannotBeTaken) {
    KeyboardBed machine;
    auto& laptop = machine.plug(laptopKeyboard());
    machine.plug(usbConsumerControl());
    machine.plug(hotkeysWithTabletSwitch());
    machine.plug(touchpadWithVolumeKeys());
    laptop.holdByOther(true);
    // A running Varnu holds the consumer-control node through its clone.
    machine.startTap();
    ASSERT_TRUE(machine.until(
        [&] { return machine.clone(kConsumer) && machine.clone(kConsumer)->announced; }));
    // Plugged in now, it stays free: udev never announces the copy the running Varnu makes of it.
    machine.uinput.announceAfter(std::nullopt);
    machine.plug(mouseWithVolumeKeys());
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
    EXPECT_THAT(output, HasSubstr("/dev/input/event2  \"" + kConsumer + "\"  busy"));
    EXPECT_THAT(output, HasSubstr("\"" + kConsumer +
                                  "\"  left alone: a virtual copy of /dev/input/event2"));
    EXPECT_THAT(output, HasSubstr("\"Intel HID events\"  left alone: it also reports switches"));
    EXPECT_THAT(output, HasSubstr("Touchpad\"  left alone: it has a touch surface, pen or stick"));
    EXPECT_THAT(output, HasSubstr("\"Logitech MX Master 3\"  can be taken; its pointer passes "
                                  "through Varnu"));
}
#endif

} // namespace
} // namespace varnu::bed
