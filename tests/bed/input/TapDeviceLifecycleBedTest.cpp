// The life of the keyboards the real evdev tap holds, against keyboards emulated by umockdev:
// unplugged and plugged again, held by another program, remapped, while the session is away,
// and those it leaves alone.

#include "tests/bed/input/TapBedFixtures.h"

#include <cstdio>

#include <gmock/gmock.h>

namespace varnu::bed {
namespace {

using ::testing::HasSubstr;

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

TEST_F(LaptopWithConsumerControl, AnInactiveSessionNeitherReadsNorGrabsUntilItIsActiveAgain) {
    ASSERT_NO_FATAL_FAILURE(start([](const TappedEvent&) { return TapDecision::Swallow; }));
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
