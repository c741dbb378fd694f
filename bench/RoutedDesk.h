#pragma once

// A desk whose default output has no volume control of its own and is played by an external
// monitor, so that every volume key takes the routed path: two monitors, three outputs, one
// screen with the pointer on it. Everything is simulated, the monitors sit on buses that take
// every message at once and the pauses take no time; a benchmark swaps in the real pieces it
// measures before it creates the delegate.

#include "app/VolumeKeys.h"
#include "platform/PlatformServices.h"
#include "tests/app/SimDesk.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace varnu::bench {

// Lists the desk's two monitors, each on a bus that takes every message at once and answers a
// Get VCP Feature with 50 of 100; onWrite, when set, is called with every message written (on
// the writing thread).
class InstantDisplays final : public DisplayEnumerator {
public:
    using BusWatch = std::function<void(std::span<const std::uint8_t> message)>;
    explicit InstantDisplays(BusWatch onWrite = nullptr)
        : onWrite_(std::move(onWrite)) {}
    std::vector<ExternalDisplay> externalDisplays() override;

private:
    BusWatch onWrite_;
};

struct RoutedDesk : testing::SimDesk {
    RoutedDesk();

    PlatformServices services;
};

// "Up" until the level is at the top, then "down" until it is at the bottom, and so on, so that
// every press changes the level.
class SweepingKeys {
public:
    const TappedEvent& next(std::int64_t level);

private:
    TappedEvent up_ = testing::SimDesk::key(kKeyTypeSoundUp);
    TappedEvent down_ = testing::SimDesk::key(kKeyTypeSoundDown);
    bool goingUp_ = true;
};

} // namespace varnu::bench
