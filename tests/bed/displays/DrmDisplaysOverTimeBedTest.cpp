// The displays over time: retries, a held bus, unplugging, swapping, re-docking, resuming and
// a hanging bus.

#include "tests/bed/displays/DrmDisplaysBed.h"
#include "tests/bed/displays/LoginBus.h"

#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace varnu::linux_backend::testing {
namespace {

TEST_F(DrmDisplaysBed, LeavesADisplayThatNeverAnswersToTheDesktopAndTriesItAgain) {
    // A TV that does not acknowledge DDC/CI at all, and a projector that answers every request
    // with the Null Message.
    auto hdmi = plugHDMI();
    dev.setBus(4, carrying(amdHDMI, false));
    auto gpu = tree.addGpu("0000:04:00.0");
    auto dp =
        tree.addConnector(tree.addCard(gpu, "card1"), "card1-DP-1", "connected", nvidiaDP.edid);
    tree.addAdapter(dp, 9, "DPDDC-B");
    nvidiaDP.monitor->spoilReplies(sim::ReplyFault::Silent, sim::SimMonitor::kAlways);
    dev.setBus(9, carrying(nvidiaDP));
    auto displays = start(1500ms);
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());
    // A Get VCP Feature, asked three times.
    EXPECT_EQ(count(dev.transfers(4), "write 37: 51 82 01 62 DE"), 3);
    EXPECT_EQ(count(dev.transfers(9), "read 37: 11"), 3);

    hotplug(*displays, hdmi);
    EXPECT_EQ(count(dev.transfers(4), "write 37"), 6);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(count(dev.transfers(4), "write 37"), 6);

    // DDC/CI switched on in the monitor's menu: found at the next retry, without an event.
    dev.setBus(4, carrying(amdHDMI));
    ASSERT_TRUE(displays->waitForLooks(3, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), ElementsAre("AMD HDMI"));
    // Its verdict is remembered: the next event asks only the projector again.
    dev.clearTransfers();
    hotplug(*displays, hdmi);
    EXPECT_THAT(dev.transfers(4), IsEmpty());
    EXPECT_EQ(count(dev.transfers(9), "read 37: 11"), 3);
    EXPECT_EQ(diagnostics.str(), "varnu: card0-HDMI-A-1: AMD HDMI: no DDC/CI answer: turn DDC/CI "
                                 "on in the monitor's menu\n"
                                 "varnu: card1-DP-1: NV DP: no DDC/CI answer: turn DDC/CI on in "
                                 "the monitor's menu\n");
}

TEST_F(DrmDisplaysBed, TriesADisplayThatWakesUpSilentAgainWithinSeconds) {
    plugHDMI();
    dev.setBus(4, carrying(amdHDMI, false));
    auto displays = start(1min, {300ms, 600ms, 900ms});
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());
    dev.setBus(4, carrying(amdHDMI));
    ASSERT_TRUE(displays->waitForLooks(4, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), ElementsAre("AMD HDMI"));
}

TEST_F(DrmDisplaysBed, FollowsADockPluggedAgainOrResumedWithItsBusesSwapped) {
    bed::LoginBus loginBus;
    if (loginBus.address().empty()) {
        GTEST_SKIP() << "needs dbus-daemon";
    }
    auto intel = tree.addGpu("0000:00:02.0");
    auto card = tree.addCard(intel, "card1");
    const auto left = display("Left"), right = display("Right");
    auto first = tree.addConnector(card, "card1-DP-3", "connected", left.edid);
    auto second = tree.addConnector(card, "card1-DP-4", "connected", right.edid);
    tree.addAdapter(intel, 12, "DPMST");
    tree.addAdapter(intel, 13, "DPMST");
    const auto dock = [&](const Display& onTwelve, const Display& onThirteen) {
        dev.setBus(12, carrying(onTwelve));
        dev.setBus(13, carrying(onThirteen));
    };
    dock(left, right);
    auto displays = start(1min, {}, loginBus.address());
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_EQ(busOf(*displays, "Left"), dev.path(12));

    // Unplugged, and plugged again with its buses the other way round.
    tree.setConnector(first, "disconnected", {});
    tree.setConnector(second, "disconnected", {});
    hotplug(*displays, first);
    dock(right, left);
    tree.setConnector(first, "connected", left.edid);
    tree.setConnector(second, "connected", right.edid);
    hotplug(*displays, first);
    EXPECT_EQ(busOf(*displays, "Left"), dev.path(13));
    EXPECT_EQ(busOf(*displays, "Right"), dev.path(12));

    // Swapped back while the system slept, without a word from udev.
    dock(left, right);
    const auto before = displays->looks();
    ASSERT_TRUE(loginBus.resume());
    ASSERT_TRUE(displays->waitForLooks(before + 1, 10s));
    EXPECT_EQ(busOf(*displays, "Left"), dev.path(12));
    EXPECT_EQ(busOf(*displays, "Right"), dev.path(13));
}

TEST_F(DrmDisplaysBed, SaysWhenAnotherProgramHoldsTheBusAndFindsTheDisplayOnceItIsFree) {
    auto hdmi = plugHDMI();
    // Beside it, a monitor on a bus the user may not open.
    auto gpu = tree.addGpu("0000:04:00.0");
    auto refused =
        tree.addConnector(tree.addCard(gpu, "card1"), "card1-HDMI-A-1", "connected", nvidiaDP.edid);
    tree.linkDdc(refused, tree.addAdapter(gpu, 5, "AMDGPU DM i2c hw bus 0"));
    auto denied = carrying(nvidiaDP);
    denied.denied = true;
    dev.setBus(5, denied);
    int holder = ::open(dev.path(4).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    auto displays = start();
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());
    EXPECT_THAT(diagnostics.str(), HasSubstr("card0-HDMI-A-1: AMD HDMI: the bus is held by "
                                             "another program"));
    const auto report = probe();
    EXPECT_THAT(report, HasSubstr("    -> not controlled: the bus is held by another program"));
    EXPECT_THAT(report, HasSubstr("    -> not controlled: permission denied on " + dev.path(5)));

    ::close(holder);
    hotplug(*displays, hdmi);
    EXPECT_THAT(names(displays->externalDisplays()), ElementsAre("AMD HDMI"));
}

TEST_F(DrmDisplaysBed, ChannelsSurviveAnUnplugAndASwap) {
    auto hdmi = plugHDMI();
    auto displays = start();
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    auto found = displays->externalDisplays();
    ASSERT_EQ(found.size(), 1u);
    auto& channel = *found[0].service;

    std::array<std::uint8_t, kGetVCPFeatureReplySize> reply{};
    // Unplugged between a request and its reply: the transaction fails, nothing waits.
    ASSERT_EQ(channel.writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume), kIOReturnSuccess);
    dev.removeBus(4);
    tree.setConnector(hdmi, "disconnected", {});
    EXPECT_EQ(channel.readI2C(kDDCChipAddress, kDDCHostAddress, reply), ENODEV);
    EXPECT_EQ(channel.writeI2C(kDDCChipAddress, kDDCHostAddress, kGetVolume), ENOENT);
    hotplug(*displays, hdmi);
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());

    // Another monitor on the same connector and bus: the core is told once, on its own thread,
    // and not again by a look that found the same.
    int changes = 0;
    displays->setChangeHandler([&, mainThread = std::this_thread::get_id()] {
        EXPECT_EQ(std::this_thread::get_id(), mainThread);
        ++changes;
    });
    auto other = display("Other");
    dev.setBus(4, carrying(other));
    tree.setConnector(hdmi, "connected", other.edid);
    hotplug(*displays, hdmi);
    mainQueue->pumpFor(0ms);
    EXPECT_EQ(changes, 1);
    hotplug(*displays, hdmi);
    mainQueue->pumpFor(0ms);
    EXPECT_EQ(changes, 1);
    found = displays->externalDisplays();
    ASSERT_THAT(names(found), ElementsAre("Other"));
    DDCMonitor monitor(std::move(found[0].service), "Other", std::make_shared<SleepingPause>());
    EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, 21));
    EXPECT_EQ(other.monitor->control(kVCPAudioSpeakerVolume)->current, 21);
    EXPECT_EQ(amdHDMI.monitor->control(kVCPAudioSpeakerVolume)->current, 50);
}

TEST_F(DrmDisplaysBed, AHangingBusHoldsOnlyTheWorker) {
    plugHDMI();
    auto hanging = carrying(amdHDMI);
    hanging.hang = 20s;
    dev.setBus(4, hanging);
    auto displays = start();
    ASSERT_TRUE(dev.waitForHang(4, 10s));
    // The worker is stuck on the bus; the list still answers.
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());
    EXPECT_EQ(displays->looks(), 0u);
    dev.releaseHangs();
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_THAT(dev.transfers(4), ElementsAre("message write 50: 00 -> ETIMEDOUT"));
}

} // namespace
} // namespace varnu::linux_backend::testing
