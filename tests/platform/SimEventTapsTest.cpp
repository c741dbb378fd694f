#include "platform/sim/SimEventTaps.h"

#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

constexpr CGEventType kKeyDown = 10;

TEST(SimEventTaps, ATrustedLiveTapSeesOnlyMaskedEventsWhileEnabled) {
    SimEventTaps taps;
    std::vector<CGEventType> seen;
    const auto create = [&] {
        return taps.createTap(
            1, 0, 0, eventMaskBit(kCGEventSystemDefined), [&](const TappedEvent& event) {
                seen.push_back(event.type);
                return event.event && event.event->data1 == 1 ? TapDecision::Swallow
                                                              : TapDecision::Pass;
            });
    };
    EXPECT_EQ(create(), nullptr) << "made without the permission";
    taps.setTrusted(true);
    taps.setCreationFails(true);
    EXPECT_EQ(create(), nullptr);
    taps.setCreationFails(false);
    auto handle = create();
    ASSERT_NE(handle, nullptr);

    SystemDefinedEvent volume{.type = 14, .subtype = 8, .data1 = 1, .modifierFlags = 0};
    const TappedEvent volumeKey{kCGEventSystemDefined, volume};
    EXPECT_EQ(taps.deliver(volumeKey), TapDecision::Swallow);
    EXPECT_EQ(taps.deliver(TappedEvent{kCGEventSystemDefined, std::nullopt}), TapDecision::Pass);
    EXPECT_EQ(taps.deliver(TappedEvent{kKeyDown, volume}), std::nullopt);
    EXPECT_EQ(taps.deliver(TappedEvent{200, volume}), std::nullopt);

    // Switched off by the system: only the notification gets through until re-enabled.
    EXPECT_EQ(taps.disableByTimeout(), TapDecision::Pass);
    EXPECT_EQ(taps.deliver(volumeKey), std::nullopt);
    handle->enable(true);
    EXPECT_EQ(taps.deliver(volumeKey), TapDecision::Swallow);
    EXPECT_EQ(taps.disableByUserInput(), TapDecision::Pass);
    EXPECT_EQ(seen, (std::vector<CGEventType>{14, 14, kCGEventTapDisabledByTimeout, 14,
                                              kCGEventTapDisabledByUserInput}));
    handle->enable(true);
    handle.reset();
    EXPECT_EQ(taps.deliver(volumeKey), std::nullopt) << "a released tap still sees keys";
}

} // namespace
} // namespace varnu::sim
