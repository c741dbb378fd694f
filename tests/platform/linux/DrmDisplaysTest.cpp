#include "platform/linux/DrmDisplays.h"

#include "FakeDrmTree.h"
#include "RecordingI2cTransport.h"

#include <cerrno>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using testing::ConnectorSetup;
using ::testing::ElementsAre;
using testing::FakeDrmTree;
using ::testing::HasSubstr;
using testing::makeEdid;
using testing::RecordingI2cTransport;

ConnectorSetup connected(std::optional<std::string> name, std::optional<std::string> ddc = {},
                         std::vector<std::string> folders = {}) {
    return {"connected", makeEdid({.name = std::move(name)}), std::move(ddc), std::move(folders)};
}

std::vector<DrmMonitor> monitorsIn(const std::string& root) {
    return DrmDisplays({root, "/dev"}, std::make_shared<RecordingI2cTransport>(), nullptr)
        .monitors();
}

TEST(DrmDisplays, ListsConnectedConnectorsWithNameBusAndKind) {
    FakeDrmTree tree;
    std::filesystem::create_directories(tree.root() + "/card0");
    std::filesystem::create_directories(tree.root() + "/renderD128");
    testing::writeText(tree.root() + "/version", "0\n");
    tree.addConnector("card0-eDP-1", connected("Panel", "i2c-1"));
    tree.addConnector("card0-HDMI-A-1", connected("DELL U2723QE", "i2c-3"));
    // DisplayPort's adapter is the AUX channel inside the connector; the lowest one wins.
    tree.addConnector("card0-DP-1", connected("LG HDR 4K", {}, {"i2c-12", "i2c-7", "drm_dp_aux0"}));
    // A ddc link is preferred over a folder.
    tree.addConnector("card0-DP-2", connected("Both", "i2c-4", {"i2c-9"}));
    tree.addConnector("card0-DP-3", connected(std::nullopt));
    tree.addConnector("card0-DP-4", {"disconnected", {}, "i2c-5", {}});
    tree.addConnector("card0-DP-5", {"unknown", makeEdid({.name = "Ghost"}), "i2c-6", {}});
    tree.addConnector("card0-Writeback-1", connected("Writeback"));
    tree.addConnector("card0-Virtual-1", connected("Virtual", "i2c-8"));
    tree.addConnector("card0-DSI-1", connected("Phone panel"));
    tree.addConnector("card0-LVDS-1", connected("Old"));
    // An EDID that fails its checksum gives no name, but the display is still there.
    tree.addConnector(
        "card0-DVI-D-1",
        {"connected", makeEdid({.name = "Broken", .validChecksum = false}), "i2c-2", {}});

    EXPECT_THAT(monitorsIn(tree.root()),
                ElementsAre(DrmMonitor{"card0-DP-1", "LG HDR 4K", 7, false},
                            DrmMonitor{"card0-DP-2", "Both", 4, false},
                            DrmMonitor{"card0-DP-3", "", std::nullopt, false},
                            DrmMonitor{"card0-DSI-1", "Phone panel", std::nullopt, true},
                            DrmMonitor{"card0-DVI-D-1", "", 2, false},
                            DrmMonitor{"card0-HDMI-A-1", "DELL U2723QE", 3, false},
                            DrmMonitor{"card0-LVDS-1", "Old", std::nullopt, true},
                            DrmMonitor{"card0-eDP-1", "Panel", 1, true}));
    EXPECT_TRUE(monitorsIn("/nonexistent/varnu/drm").empty());
}

TEST(DrmDisplays, OrdersByCardThenConnectorNumericallyAndFollowsAdapterLinks) {
    FakeDrmTree tree;
    for (const char* name :
         {"card10-DP-1", "card2-DP-10", "card2-DP-2", "card2-DP-1", "card1-HDMI-A-2"}) {
        tree.addConnector(name, connected(name));
    }
    // A ddc link to the adapter's device rather than to the i2c-N entry itself.
    tree.addConnector("card1-HDMI-A-1", connected("Monitor", "adapter0"));
    std::filesystem::create_directories(tree.devices() / "adapter0" / "i2c-dev" / "i2c-11");
    const auto monitors = monitorsIn(tree.root());
    std::vector<std::string> names;
    for (const auto& monitor : monitors) {
        names.push_back(monitor.connector);
    }
    EXPECT_THAT(names, ElementsAre("card1-HDMI-A-1", "card1-HDMI-A-2", "card2-DP-1", "card2-DP-2",
                                   "card2-DP-10", "card10-DP-1"));
    EXPECT_EQ(monitors[0].bus, 11);
}

TEST(DrmDisplays, OpensTheExternalDisplaysBusesInOrderAndSaysOnceWhyOneIsUnusable) {
    FakeDrmTree tree;
    tree.addConnector("card0-eDP-1", connected("Panel", "i2c-1"));
    tree.addConnector("card0-DP-1", connected("First", {}, {"i2c-7"}));
    tree.addConnector("card0-DP-2", connected("No bus"));
    tree.addConnector("card0-HDMI-A-1", connected("Busy", "i2c-3"));
    tree.addConnector("card1-DP-1", connected("Locked", "i2c-20"));
    tree.addConnector("card1-HDMI-A-1", connected(std::nullopt, "i2c-21"));
    auto transport = std::make_shared<RecordingI2cTransport>();
    std::ostringstream diagnostics;
    DrmDisplays displays({tree.root(), "/fake/dev"}, transport, &diagnostics);

    transport->failures["slave /fake/dev/i2c-3"] = {-EBUSY, -EBUSY};
    transport->failures["open /fake/dev/i2c-20"] = {-EACCES, -EACCES};
    {
        auto found = displays.externalDisplays();
        ASSERT_EQ(found.size(), 2u);
        EXPECT_EQ(found[0].productName, "First");
        EXPECT_EQ(found[1].productName, "");
        EXPECT_THAT(transport->calls,
                    ElementsAre("open /fake/dev/i2c-7", "slave 3: 37", "open /fake/dev/i2c-3",
                                "slave 4: 37", "close 4", "open /fake/dev/i2c-20",
                                "open /fake/dev/i2c-21", "slave 5: 37"));
    }
    // Discovery runs again whenever the core has no monitor; the reasons are said only once.
    EXPECT_EQ(displays.externalDisplays().size(), 2u);
    auto text = diagnostics.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2);
    EXPECT_THAT(text, HasSubstr("card0-HDMI-A-1: /fake/dev/i2c-3 is busy"));
    EXPECT_THAT(text, HasSubstr("card1-DP-1: no permission to open /fake/dev/i2c-20"));
    EXPECT_THAT(text, HasSubstr("permissions.html"));
}

} // namespace
} // namespace varnu::linux_backend
