// Finding the displays of a workstation with every common driver and dock, and what
// varnu-probe says about them.

#include "tests/bed/displays/DrmDisplaysBed.h"

namespace varnu::linux_backend::testing {
namespace {

using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

class DrmWorkstationBed : public DrmDisplaysBed {
protected:
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
        auto hdmi =
            tree.addConnector(card0, "card0-HDMI-A-1", "connected",
                              makeEdid({.name = "AMD HDMI", .extensionNames = {std::nullopt}}));
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
            // One driver names an adapter with a terminal's escape sequence in it.
            tree.addAdapter(nvidia, bus,
                            "NVIDIA i2c adapter " + std::to_string(bus - 19) +
                                (bus == 22 ? "\x1B[2J" : ""));
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

    Display amdDP = display("AMD DP"), dockFirst = display("Dock"), dockSecond{dockFirst.edid},
            nvidiaHDMI = display("NV HDMI"), deskEdp = display("Desk eDP"),
            laptopPanel = {makeEdid({.name = std::nullopt})},
            noModesetting = {makeEdid({.name = "ACME", .extensionNames = {"ACME 27Q"}})};
};

TEST_F(DrmWorkstationBed, FindsEachDisplaysBusOnEveryCommonDriverAndDock) {
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
    EXPECT_THAT(report, HasSubstr("  card4-eDP-1  \"(no name)\"  internal, not controlled\n"));
    EXPECT_THAT(report, HasSubstr("  i2c-41  (a GPU without connectors)\n"
                                  "    i2c-41 (GPU's adapter, \"NVIDIA i2c adapter 2\"): answered "
                                  "DDC/CI\n"
                                  "    -> \"ACME 27Q\"\n"));
    EXPECT_THAT(report, HasSubstr("  card1-DP-4  \"Dock\"  external\n"
                                  "    i2c-12 (card's adapter, \"DPMST\"): the bus of another "
                                  "connector\n"
                                  "    i2c-13 (card's adapter, \"DPMST\"): answered DDC/CI\n"));
    EXPECT_THAT(report, HasSubstr("  card2-HDMI-A-1  \"NV HDMI\"  external\n"
                                  "    i2c-20 (card's adapter, \"NVIDIA i2c adapter 1\"): no EDID: "
                                  "nothing answered at 0x50 (No such device or address)\n"
                                  "    i2c-21 (card's adapter, \"NVIDIA i2c adapter 2\"): "
                                  "answered DDC/CI\n"));
    EXPECT_THAT(report, HasSubstr(R"(i2c-22 (card's adapter, "NVIDIA i2c adapter 3\x1B[2J"))"));
    EXPECT_EQ(report.find('\x1B'), std::string::npos);
    if (::geteuid() == 0) {
        EXPECT_THAT(report, HasSubstr("running as root"));
    }

    // vcp speaks to a bus a connector owns, a card's adapter once the connector's display is
    // found there, and to any other only when forced.
    EXPECT_THAT(probe("vcp 23 0x62"), HasSubstr("bus 23: card2-DP-1 \"NV DP\"\nVCP 0x62: current"));
    EXPECT_THAT(probe("vcp 22 0x62", true), HasSubstr("pass --force"));
    EXPECT_EQ(count(dev.transfers(22), "write 37"), 0);
    EXPECT_THAT(probe("--force vcp 22 0x62", true), HasSubstr("trying anyway (--force)"));
    EXPECT_GT(count(dev.transfers(22), "write 37"), 0);
}

TEST_F(DrmWorkstationBed, TheProbePrintsOnlyItsOwnReport) {
    plugHDMI();
    ::setenv("PULSE_SERVER", "unix:/nonexistent/varnu/native", 1);
    const auto report = probe("", true);
    ::unsetenv("PULSE_SERVER");
    // As root (the bed's user) the audio client is left out: it would be root's.
    EXPECT_THAT(report, HasSubstr(::geteuid() == 0 ? "Audio outputs\n  not asked as root"
                                                   : "Audio outputs\n  no audio server answered"));
    EXPECT_THAT(report, HasSubstr("    -> DDC/CI on " + dev.path(4) + "\n"));
    EXPECT_THAT(report, Not(HasSubstr("varnu:")));
}

} // namespace
} // namespace varnu::linux_backend::testing
