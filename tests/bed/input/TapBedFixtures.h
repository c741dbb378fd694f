#pragma once

// The fixtures the keyboard bed's tests share: a bed that refuses to run outside
// umockdev-wrapper, and a laptop with a USB keyboard's consumer-control node, both taken.

#include "tests/bed/input/KeyboardBed.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {

using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Key = std::pair<std::uint16_t, std::int32_t>;

inline const std::string kLaptop = laptopKeyboard().name;
inline const std::string kConsumer = usbConsumerControl().name;

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

} // namespace varnu::bed
