// The real evdev tap (libudev, libevdev, the grab, the uinput clone, the reader thread) against
// keyboards emulated by umockdev.

#include "tests/bed/KeyboardBed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {
namespace {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using Keys = std::vector<std::pair<std::uint16_t, std::int32_t>>;

const std::string kLaptop = laptopKeyboard().name;
const std::string kUsb = usbKeyboard().name;
const std::string kConsumer = usbConsumerControl().name;

[[maybe_unused]] std::int64_t data1Of(const TappedEvent& event) {
    return event.event ? event.event->data1 : -1;
}

class EvdevEventTapBed : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(UmockdevBed::isActive()) << "run under umockdev-wrapper"; }
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

} // namespace
} // namespace varnu::bed
