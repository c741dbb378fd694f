#include "app/AppDelegate.h"
#include "app/VolumeKeys.h"
#include "ddc/VCP.h"
#include "settings/SettingsModel.h"
#include "tests/app/SimDesk.h"

#include <optional>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using testing::SimDesk;

struct RoutedDesk : SimDesk {
    AudioObjectID speakers = addOutput("mbp", "MacBook Pro Speakers", true);
    AudioObjectID dell = addOutput("dell", "DELL U2723QE");
    std::shared_ptr<sim::SimMonitor> monitor = addMonitor("DELL U2723QE");

    RoutedDesk() {
        audio->setDefaultOutput(dell);
        defaults->put("hideMonitorOSD", false);
    }

    std::size_t panelShowings() const {
        return overlays->panels().empty() ? 0 : overlays->panels()[0]->timesOrderedFront();
    }
};

TEST(KeyDispatch, PassesEveryEventItDoesNotActOn) {
    RoutedDesk desk;
    auto delegate = AppDelegate::create(desk.services());
    auto ddcQueue = std::static_pointer_cast<sim::SimSerialQueue>(delegate->ddcQueue);

    auto brightness = SimDesk::key(2);
    auto otherType = SimDesk::key(kKeyTypeSoundUp);
    otherType.event->type = 13;
    auto otherSubtype = SimDesk::key(kKeyTypeSoundUp);
    otherSubtype.event->subtype = 7;
    for (const auto& event :
         {TappedEvent{kCGEventSystemDefined, std::nullopt}, brightness, otherType, otherSubtype}) {
        EXPECT_FALSE(delegate->handle(event));
    }

    // An output with a volume of its own: down and up alike go to the system.
    desk.audio->setDefaultOutput(desk.speakers);
    EXPECT_FALSE(delegate->handle(SimDesk::key(kKeyTypeSoundUp)));
    EXPECT_FALSE(delegate->handle(SimDesk::key(kKeyTypeSoundUp, kKeyStateUp)));
    // No current output.
    desk.audio->setDefaultOutput(kAudioObjectUnknown);
    EXPECT_FALSE(delegate->handle(SimDesk::key(kKeyTypeMute)));

    EXPECT_EQ(delegate->volume, 50);
    EXPECT_EQ(desk.defaults->values().size(), 1u); // only what the test put there
    EXPECT_EQ(ddcQueue->pendingJobs(), 0u);
    EXPECT_EQ(desk.panelShowings(), 0u);
}

TEST(KeyDispatch, ActsOnKeyDownsOnlyAndKeepsTheMonitorOffTheCallersPath) {
    RoutedDesk desk;
    auto delegate = AppDelegate::create(desk.services());
    auto ddcQueue = std::static_pointer_cast<sim::SimSerialQueue>(delegate->ddcQueue);

    // The key-up of a key Varnu acts on is swallowed and changes nothing.
    EXPECT_TRUE(delegate->handle(SimDesk::key(kKeyTypeSoundUp, kKeyStateUp)));
    EXPECT_EQ(delegate->volume, 50);
    EXPECT_EQ(ddcQueue->pendingJobs(), 0u);
    EXPECT_EQ(desk.panelShowings(), 0u);

    // An auto-repeated key-down (flag bit 0) counts like a first press; each one is stored and
    // queued, and the monitor is not spoken to before the handler returns.
    auto repeat = SimDesk::key(kKeyTypeSoundUp);
    repeat.event->data1 |= 1;
    EXPECT_TRUE(delegate->handle(SimDesk::key(kKeyTypeSoundUp)));
    EXPECT_TRUE(delegate->handle(repeat));
    EXPECT_EQ(delegate->volume, 62);
    EXPECT_EQ(desk.defaults->object("volume.dell"), DefaultsValue{std::int64_t{62}});
    EXPECT_EQ(ddcQueue->pendingJobs(), 2u);
    EXPECT_TRUE(desk.monitor->transactions().empty());
    EXPECT_EQ(desk.panelShowings(), 2u);

    // Without the overlay setting, everything but the overlay happens.
    delegate->settings->setShowHUD(false);
    EXPECT_TRUE(delegate->handle(SimDesk::key(kKeyTypeSoundDown)));
    EXPECT_EQ(delegate->volume, 56);
    EXPECT_EQ(ddcQueue->pendingJobs(), 3u);
    EXPECT_EQ(desk.panelShowings(), 2u);

    // The jobs carry the values of their own press and run in order.
    desk.scheduler->advance(std::chrono::seconds(1));
    const auto sets = desk.monitor->appliedSets();
    std::vector<std::uint16_t> levels;
    for (const auto& set : sets) {
        if (set.code == kVCPAudioSpeakerVolume) {
            levels.push_back(set.value);
        }
    }
    EXPECT_EQ(levels, (std::vector<std::uint16_t>{56, 56, 62, 62, 56, 56}));
}

} // namespace
} // namespace varnu
