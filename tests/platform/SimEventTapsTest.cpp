#include "platform/sim/SimEventTaps.h"

#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

constexpr CGEventType kKeyDown = 10;

TEST(SimEventTaps, TapNeedsThePermissionAndKeepsItsParameters) {
    SimEventTaps taps;
    EXPECT_FALSE(taps.isProcessTrusted(true));
    auto callback = [](const TappedEvent&) { return TapDecision::Pass; };
    EXPECT_EQ(taps.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                             eventMaskBit(kCGEventSystemDefined), callback),
              nullptr);
    taps.setTrusted(true);
    taps.setCreationFails(true);
    EXPECT_TRUE(taps.isProcessTrusted(false));
    EXPECT_EQ(taps.createTap(1, 0, 0, 0x4000, callback), nullptr);
    EXPECT_EQ(taps.tap(), nullptr);

    taps.setCreationFails(false);
    auto handle = taps.createTap(1, 0, 0, 0x4000, callback);
    ASSERT_NE(handle, nullptr);
    auto tap = taps.tap();
    ASSERT_NE(tap, nullptr);
    EXPECT_EQ(tap->location(), 1u);
    EXPECT_EQ(tap->placement(), 0u);
    EXPECT_EQ(tap->options(), 0u);
    EXPECT_EQ(tap->eventsOfInterest(), 0x4000u);
    EXPECT_TRUE(tap->isEnabled());

    std::vector<std::pair<bool, bool>> checks;
    std::vector<bool> created;
    for (const auto& record : taps.history()) {
        if (record.kind == EventTapRecord::Kind::TrustChecked) {
            checks.emplace_back(record.prompt, record.trusted);
        } else if (record.kind == EventTapRecord::Kind::TapRequested) {
            created.push_back(record.created);
        }
    }
    EXPECT_EQ(checks, (std::vector<std::pair<bool, bool>>{{true, false}, {false, true}}));
    EXPECT_EQ(created, (std::vector<bool>{false, false, true}));

    handle.reset();
    EXPECT_TRUE(tap->isReleased());
    EXPECT_EQ(taps.tap(), nullptr);
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, SystemDefinedEvent{}}), std::nullopt);
}

TEST(SimEventTaps, DeliversOnlyMaskedEventsWhileEnabledAndTheDisableNotifications) {
    SimEventTaps taps;
    taps.setTrusted(true);
    std::unique_ptr<EventTap> handle;
    std::vector<CGEventType> seen;
    handle =
        taps.createTap(1, 0, 0, eventMaskBit(kCGEventSystemDefined), [&](const TappedEvent& event) {
            seen.push_back(event.type);
            if (event.type >= kCGEventTapDisabledByTimeout) {
                return TapDecision::Pass;
            }
            return event.event && event.event->data1 == 1 ? TapDecision::Swallow
                                                          : TapDecision::Pass;
        });
    ASSERT_NE(handle, nullptr);

    SystemDefinedEvent volume{.type = 14, .subtype = 8, .data1 = 1, .modifierFlags = 0};
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, volume}), TapDecision::Swallow);
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, std::nullopt}), TapDecision::Pass);
    EXPECT_EQ(taps.deliver(TappedEvent{kKeyDown, volume}), std::nullopt);
    EXPECT_EQ(taps.deliver(TappedEvent{200, volume}), std::nullopt);
    EXPECT_EQ(seen, (std::vector<CGEventType>{14, 14}));

    // Switched off by the system: only the notification gets through until re-enabled.
    EXPECT_EQ(taps.disableByTimeout(), TapDecision::Pass);
    EXPECT_FALSE(taps.tap()->isEnabled());
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, volume}), std::nullopt);
    handle->enable(true);
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, volume}), TapDecision::Swallow);
    EXPECT_EQ(taps.disableByUserInput(), TapDecision::Pass);
    EXPECT_EQ(seen, (std::vector<CGEventType>{14, 14, kCGEventTapDisabledByTimeout, 14,
                                              kCGEventTapDisabledByUserInput}));
    EXPECT_EQ(taps.tap()->enableCalls(), std::vector<bool>{true});
}

} // namespace
} // namespace varnu::sim
