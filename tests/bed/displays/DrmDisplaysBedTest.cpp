// The real DrmDisplays, I2cDevChannel and varnu-probe against emulated hardware: a umockdev
// sysfs tree of GPUs, connectors and I2C adapters, and FUSE i2c-N nodes on which simulated
// monitors answer, all through the real system calls. Run by run-in-bed.sh as root.

#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"
#include "platform/PumpedMainQueue.h"
#include "platform/SleepingPause.h"
#include "platform/linux/displays/DrmDisplays.h"
#include "platform/linux/displays/I2cDevChannel.h"
#include "tests/bed/displays/FuseI2cBus.h"
#include "tests/bed/displays/LoginBus.h"
#include "tests/bed/displays/UmockdevDrmTree.h"
#include "tests/platform/linux/displays/FakeDrmTree.h"

#include <array>
#include <cstdio>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using bed::DdcChip;
using bed::EdidChip;
using bed::EmulatedBus;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::IsSupersetOf;
using ::testing::Not;

constexpr std::uint8_t kEdidAddress = 0x50;
const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};

struct Display {
    std::vector<std::uint8_t> edid;
    std::shared_ptr<sim::SimMonitor> monitor = sim::SimMonitor::create();
};

Display display(const std::string& name) {
    return {testing::makeEdid({.name = name})};
}

// A display on a bus: its EDID at 0x50 and, unless it never speaks DDC/CI, its monitor at 0x37.
EmulatedBus carrying(const Display& display, bool speaksDDC = true) {
    EmulatedBus bus;
    bus.chips[kEdidAddress] = std::make_shared<EdidChip>(display.edid);
    if (speaksDDC) {
        bus.chips[kDDCChipAddress] = std::make_shared<DdcChip>(display.monitor);
    }
    return bus;
}

std::vector<std::string> names(const std::vector<ExternalDisplay>& displays) {
    std::vector<std::string> result;
    for (const auto& each : displays) {
        result.push_back(each.productName);
    }
    return result;
}

int count(const std::vector<std::string>& lines, const std::string& prefix) {
    return static_cast<int>(std::count_if(
        lines.begin(), lines.end(), [&](const auto& line) { return line.starts_with(prefix); }));
}

class DrmDisplaysBed : public ::testing::Test {
protected:
    void SetUp() override {
        if (!bed::UmockdevDrmTree::available()) {
            GTEST_SKIP() << "needs umockdev's preload library (run through run-in-bed.sh)";
        }
        if (!dev.mounted()) {
            GTEST_SKIP() << "needs root and FUSE";
        }
    }

    std::unique_ptr<DrmDisplays> start(std::chrono::milliseconds retryInterval = 1min,
                                       std::vector<std::chrono::milliseconds> wakeRetries = {},
                                       const std::string& loginBus = {}) {
        return std::make_unique<DrmDisplays>(
            mainQueue, DrmPaths{"/sys/class/drm", dev.root(), loginBus},
            DrmDisplaysTiming{retryInterval, 50ms, std::move(wakeRetries)},
            std::make_shared<SystemI2cTransport>(), std::make_shared<SleepingPause>(),
            &diagnostics);
    }

    // The bus the listed display of this name is spoken to on; empty when none is listed.
    static std::string busOf(DrmDisplays& displays, const std::string& name) {
        for (const auto& each : displays.externalDisplays()) {
            if (each.productName == name) {
                return dynamic_cast<const I2cDevChannel&>(*each.service).path();
            }
        }
        return {};
    }

    // Sends a hot-plug event and waits for the look it causes.
    void hotplug(DrmDisplays& displays, const std::string& device) {
        const auto before = displays.looks();
        tree.uevent(device, "change");
        ASSERT_TRUE(displays.waitForLooks(before + 1, 10s));
    }

    // Its standard output, and with `everything` its errors too.
    std::string probe(const std::string& command = "monitors", bool everything = false) {
        std::string output;
        const auto line = std::string(VARNU_PROBE_PATH) + " --dev " + dev.root() + " " + command +
                          (everything ? " 2>&1" : "");
        if (FILE* pipe = ::popen(line.c_str(), "r")) {
            std::array<char, 256> chunk{};
            while (std::fgets(chunk.data(), chunk.size(), pipe)) {
                output += chunk.data();
            }
            ::pclose(pipe);
        }
        return output;
    }

    // An amdgpu card with an HDMI monitor on its ddc link, bus 4, speaking DDC/CI. Answers the
    // connector.
    std::string plugHDMI() {
        auto gpu = tree.addGpu("0000:03:00.0");
        auto hdmi = tree.addConnector(tree.addCard(gpu, "card0"), "card0-HDMI-A-1", "connected",
                                      amdHDMI.edid);
        tree.linkDdc(hdmi, tree.addAdapter(gpu, 4, "AMDGPU DM i2c hw bus 1"));
        dev.setBus(4, carrying(amdHDMI));
        return hdmi;
    }

    static EmulatedBus readEdidMeanwhile(EmulatedBus bus) {
        bus.edidReader = true;
        return bus;
    }

    // A workstation with five GPUs:
    // amdgpu, a native DisplayPort monitor (its ddc link leads to pins it does not use; its
    // AUX adapter carries it) and an HDMI monitor on its ddc link, whose EDID sysfs shows is an
    // override;
    // Intel, a DP-MST dock with two monitors of one model (the same EDID) on adapters the kernel
    // registers under the GPU; its root port's ddc link is its own AUX adapter; the kernel reads
    // the dock's EDIDs now and then;
    // NVIDIA's driver, adapters on the GPU and no links, with the ddcci kernel driver bound
    // to the HDMI monitor's DDC/CI address, one adapter that does SMBus only and one that
    // cannot combine a write and a read in one transfer;
    // a desktop whose firmware declares its DisplayPort eDP, and a laptop panel;
    // NVIDIA's driver without kernel modesetting: no card, only the adapters, one of them with a
    // monitor that names itself in its CTA-861 block.
    void buildWorkstation() {
        auto amd = tree.addGpu("0000:03:00.0");
        auto card0 = tree.addCard(amd, "card0");
        auto dp = tree.addConnector(card0, "card0-DP-1", "connected", amdDP.edid);
        tree.linkDdc(dp, tree.addAdapter(amd, 3, "AMDGPU DM i2c hw bus 0"));
        tree.addAdapter(dp, 7, "AMDGPU DM aux hw bus 0");
        auto hdmi = tree.addConnector(
            card0, "card0-HDMI-A-1", "connected",
            testing::makeEdid({.name = "AMD HDMI", .extensionNames = {std::nullopt}}));
        tree.linkDdc(hdmi, tree.addAdapter(amd, 4, "AMDGPU DM i2c hw bus 1"));
        dev.setBus(3, {});
        dev.setBus(7, carrying(amdDP));
        dev.setBus(4, carrying(amdHDMI));

        auto intel = tree.addGpu("0000:00:02.0");
        auto card1 = tree.addCard(intel, "card1");
        auto root = tree.addConnector(card1, "card1-DP-1", "disconnected", {});
        tree.linkDdc(root, tree.addAdapter(root, 11, "DPDDC-B"));
        tree.addConnector(card1, "card1-DP-3", "connected", dockFirst.edid);
        tree.addConnector(card1, "card1-DP-4", "connected", dockSecond.edid);
        tree.addAdapter(intel, 12, "DPMST");
        tree.addAdapter(intel, 13, "DPMST");
        dev.setBus(11, {});
        dev.setBus(12, readEdidMeanwhile(carrying(dockFirst)));
        dev.setBus(13, readEdidMeanwhile(carrying(dockSecond)));

        auto nvidia = tree.addGpu("0000:01:00.0");
        auto card2 = tree.addCard(nvidia, "card2");
        tree.addConnector(card2, "card2-DP-1", "connected", nvidiaDP.edid);
        tree.addConnector(card2, "card2-HDMI-A-1", "connected", nvidiaHDMI.edid);
        for (int bus = 20; bus <= 23; ++bus) {
            tree.addAdapter(nvidia, bus, "NVIDIA i2c adapter " + std::to_string(bus - 19));
            dev.setBus(bus, {});
        }
        EmulatedBus smbusOnly;
        smbusOnly.smbusOnly = true;
        dev.setBus(22, smbusOnly);
        auto noRepeatedStart = carrying(nvidiaDP);
        noRepeatedStart.repeatedStart = false;
        dev.setBus(23, noRepeatedStart);
        auto claimed = carrying(nvidiaHDMI);
        claimed.claimed.insert(kDDCChipAddress);
        dev.setBus(21, claimed);

        auto desktop = tree.addGpu("0000:05:00.0");
        auto declaredEdp = tree.addConnector(tree.addCard(desktop, "card3"), "card3-eDP-1",
                                             "connected", deskEdp.edid);
        tree.addAdapter(declaredEdp, 30, "AMDGPU DM aux hw bus 2");
        dev.setBus(30, carrying(deskEdp));
        auto laptop = tree.addGpu("0000:00:03.0");
        auto panel = tree.addConnector(tree.addCard(laptop, "card4"), "card4-eDP-1", "connected",
                                       laptopPanel.edid);
        tree.addAdapter(panel, 31, "AUX A/DDI A/PHY A");
        dev.setBus(31, carrying(laptopPanel, false));

        auto withoutModesetting = tree.addGpu("0000:02:00.0");
        tree.addAdapter(withoutModesetting, 40, "NVIDIA i2c adapter 1");
        tree.addAdapter(withoutModesetting, 41, "NVIDIA i2c adapter 2");
        dev.setBus(40, {});
        dev.setBus(41, readEdidMeanwhile(carrying(noModesetting)));
    }

    bed::UmockdevDrmTree tree;
    bed::FuseI2cBus dev;
    std::ostringstream diagnostics;
    std::shared_ptr<PumpedMainQueue> mainQueue = std::make_shared<PumpedMainQueue>();
    Display amdDP = display("AMD DP"), amdHDMI = display("AMD HDMI"), dockFirst = display("Dock"),
            dockSecond{dockFirst.edid}, nvidiaDP = display("NV DP"),
            nvidiaHDMI = display("NV HDMI"), deskEdp = display("Desk eDP"),
            laptopPanel = {testing::makeEdid({.name = std::nullopt})},
            noModesetting = {testing::makeEdid({.name = "ACME", .extensionNames = {"ACME 27Q"}})};
};

TEST_F(DrmDisplaysBed, FindsEachDisplaysBusOnEveryCommonDriverAndDock) {
    buildWorkstation();
    auto displays = start();
    ASSERT_TRUE(displays->waitForLooks(1, 20s));

    auto found = displays->externalDisplays();
    ASSERT_THAT(names(found), ElementsAre("AMD DP", "AMD HDMI", "Dock", "Dock", "NV DP", "NV HDMI",
                                          "Desk eDP", "ACME 27Q"));
    const std::array monitors{amdDP.monitor,      amdHDMI.monitor,      dockFirst.monitor,
                              dockSecond.monitor, nvidiaDP.monitor,     nvidiaHDMI.monitor,
                              deskEdp.monitor,    noModesetting.monitor};
    for (std::size_t index = 0; index < found.size(); ++index) {
        DDCMonitor monitor(std::move(found[index].service), found[index].productName,
                           std::make_shared<SleepingPause>());
        EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, static_cast<std::uint16_t>(10 + index)));
        EXPECT_EQ(monitor.read(kVCPAudioSpeakerVolume)->current, static_cast<int>(10 + index));
    }
    for (std::size_t index = 0; index < monitors.size(); ++index) {
        EXPECT_EQ(monitors[index]->control(kVCPAudioSpeakerVolume)->current, 10 + index)
            << found[index].productName;
    }
    // The native DP connector's AUX adapter came before its ddc pins, which were never asked;
    // the laptop's panel, which names nothing, was never asked; with its address claimed, the
    // NVIDIA HDMI monitor was spoken to in single I2C_RDWR messages.
    EXPECT_THAT(dev.transfers(3), IsEmpty());
    EXPECT_THAT(dev.transfers(31), IsEmpty());
    EXPECT_THAT(dev.transfers(21), Contains("message write 37: 51 84 03 62 00 0F D5"));
    EXPECT_EQ(count(dev.transfers(21), "write 37"), 0);
    // EDIDs were read in one transfer, so that the kernel's reads could not come between the
    // offset and the bytes; where the adapter could not, in two, as SMBus-only ones refuse.
    EXPECT_THAT(dev.transfers(12), Contains("message read 50: 128"));
    EXPECT_THAT(dev.transfers(23), IsSupersetOf({"message write 50: 00 -> Operation not supported",
                                                 "write 50: 00", "read 50: 128"}));
    EXPECT_THAT(dev.transfers(22), ElementsAre("write 50: 00 -> Operation not supported"));
    EXPECT_THAT(diagnostics.str(), IsEmpty());

    const auto report = probe();
    EXPECT_THAT(report, HasSubstr("  card3-eDP-1  \"Desk eDP\"  internal connector, named like a "
                                  "monitor\n"
                                  "    i2c-30 (connector's adapter, \"AMDGPU DM aux hw bus 2\"): "
                                  "answered DDC/CI\n"));
    EXPECT_THAT(report, HasSubstr("  card4-eDP-1  \"(no name)\"  internal, not controlled\n"
                                  "  i2c-40  (a GPU without connectors)\n"
                                  "    i2c-40 (GPU's adapter, \"NVIDIA i2c adapter 1\"): no EDID: "
                                  "nothing answered at 0x50 (No such device or address)\n"
                                  "    -> not controlled: none of its buses gave this display's "
                                  "EDID\n"
                                  "  i2c-41  (a GPU without connectors)\n"
                                  "    i2c-41 (GPU's adapter, \"NVIDIA i2c adapter 2\"): answered "
                                  "DDC/CI\n"
                                  "    -> \"ACME 27Q\"\n"
                                  "    -> DDC/CI on " +
                                  dev.path(41) + "\n"));
    EXPECT_THAT(report, HasSubstr("  card1-DP-4  \"Dock\"  external\n"
                                  "    i2c-12 (card's adapter, \"DPMST\"): the bus of another "
                                  "connector\n"
                                  "    i2c-13 (card's adapter, \"DPMST\"): answered DDC/CI\n"));
    EXPECT_THAT(report, HasSubstr("  card2-HDMI-A-1  \"NV HDMI\"  external\n"
                                  "    i2c-20 (card's adapter, \"NVIDIA i2c adapter 1\"): no EDID: "
                                  "nothing answered at 0x50 (No such device or address)\n"
                                  "    i2c-21 (card's adapter, \"NVIDIA i2c adapter 2\"): "
                                  "answered DDC/CI\n"));
}

TEST_F(DrmDisplaysBed, TheProbePrintsOnlyItsOwnReport) {
    plugHDMI();
    ::setenv("PULSE_SERVER", "unix:/nonexistent/varnu/native", 1);
    const auto report = probe("", true);
    ::unsetenv("PULSE_SERVER");
    EXPECT_THAT(report, HasSubstr("Audio outputs\n  no audio server answered"));
    EXPECT_THAT(report, HasSubstr("    -> DDC/CI on " + dev.path(4) + "\n"));
    EXPECT_THAT(report, Not(HasSubstr("varnu:")));
}

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
    int holder = ::open(dev.path(4).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);

    auto displays = start();
    ASSERT_TRUE(displays->waitForLooks(1, 10s));
    EXPECT_THAT(names(displays->externalDisplays()), IsEmpty());
    EXPECT_THAT(diagnostics.str(), HasSubstr("card0-HDMI-A-1: AMD HDMI: the bus is held by "
                                             "another program"));
    EXPECT_THAT(probe(), HasSubstr("    -> not controlled: the bus is held by another program"));

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
} // namespace varnu::linux_backend
