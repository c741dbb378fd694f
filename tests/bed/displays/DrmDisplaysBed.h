#pragma once

// The display bed: the real DrmDisplays, I2cDevChannel and varnu-probe against emulated
// hardware: a umockdev sysfs tree of GPUs, connectors and I2C adapters, and FUSE i2c-N nodes
// on which simulated monitors answer, all through the real system calls. Run by run-in-bed.sh
// as root.

#include "ddc/DDCMonitor.h"
#include "ddc/VCP.h"
#include "platform/PumpedMainQueue.h"
#include "platform/SleepingPause.h"
#include "platform/linux/displays/DrmDisplays.h"
#include "platform/linux/displays/I2cDevChannel.h"
#include "tests/bed/displays/FuseI2cBus.h"
#include "tests/bed/displays/UmockdevDrmTree.h"
#include "tests/platform/linux/displays/FakeDrmTree.h"

#include <array>
#include <cstdio>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend::testing {

using namespace std::chrono_literals;
using bed::DdcChip;
using bed::EdidChip;
using bed::EmulatedBus;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

inline constexpr std::uint8_t kEdidAddress = 0x50;
inline const std::vector<std::uint8_t> kGetVolume{0x82, 0x01, 0x62, 0xDE};

struct Display {
    std::vector<std::uint8_t> edid;
    std::shared_ptr<sim::SimMonitor> monitor = sim::SimMonitor::create();
};

inline Display display(const std::string& name) {
    return {makeEdid({.name = name})};
}

// A display on a bus: its EDID at 0x50 and, unless it never speaks DDC/CI, its monitor at 0x37.
inline EmulatedBus carrying(const Display& display, bool speaksDDC = true) {
    EmulatedBus bus;
    bus.chips[kEdidAddress] = std::make_shared<EdidChip>(display.edid);
    if (speaksDDC) {
        bus.chips[kDDCChipAddress] = std::make_shared<DdcChip>(display.monitor);
    }
    return bus;
}

inline std::vector<std::string> names(const std::vector<ExternalDisplay>& displays) {
    std::vector<std::string> result;
    for (const auto& each : displays) {
        result.push_back(each.productName);
    }
    return result;
}

inline int count(const std::vector<std::string>& lines, const std::string& prefix) {
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

    bed::UmockdevDrmTree tree;
    bed::FuseI2cBus dev;
    std::ostringstream diagnostics;
    std::shared_ptr<PumpedMainQueue> mainQueue = std::make_shared<PumpedMainQueue>();
    Display amdHDMI = display("AMD HDMI"), nvidiaDP = display("NV DP");
};

} // namespace varnu::linux_backend::testing
