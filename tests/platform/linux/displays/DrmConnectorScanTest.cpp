#include "platform/linux/displays/DrmConnectorScan.h"

#include "FakeDrmTree.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using testing::ConnectorSetup;
using ::testing::ElementsAre;
using testing::FakeDrmTree;
using testing::makeEdid;

ConnectorSetup connected(std::optional<std::string> name, std::optional<std::string> ddc = {},
                         std::vector<std::string> folders = {}) {
    return {"connected", makeEdid({.name = std::move(name)}), std::move(ddc), std::move(folders)};
}

std::vector<int> buses(const DrmConnector& connector) {
    std::vector<int> numbers;
    for (const auto& candidate : connector.candidates) {
        numbers.push_back(candidate.bus);
    }
    return numbers;
}

TEST(DrmConnectorScan, ListsConnectedConnectorsWithNameKindAndEdid) {
    FakeDrmTree tree;
    std::filesystem::create_directories(tree.root() + "/renderD128");
    testing::writeText(tree.root() + "/version", "0\n");
    tree.addConnector("card0-eDP-1", connected("Panel", "i2c-1"));
    tree.addConnector("card0-HDMI-A-1", connected("DELL U2723QE", "i2c-3"));
    tree.addConnector("card0-DP-3", connected(std::nullopt));
    tree.addConnector("card0-DP-4", {"disconnected", {}, "i2c-5", {}});
    tree.addConnector("card0-DP-5", {"unknown", makeEdid({.name = "Ghost"}), "i2c-6", {}});
    tree.addConnector("card0-Writeback-1", connected("Writeback"));
    tree.addConnector("card0-Virtual-1", connected("Virtual", "i2c-8"));
    // An EDID that fails its checksum gives no name, but the display is still there.
    tree.addConnector(
        "card0-DVI-D-1",
        {"connected", makeEdid({.name = "Broken", .validChecksum = false}), "i2c-2", {}});
    for (const char* name : {"card10-DP-1", "card2-DP-10", "card2-DP-2", "card1-HDMI-A-2"}) {
        tree.addConnector(name, connected(std::string(name).substr(0, 6)));
    }

    std::vector<std::string> seen;
    for (const auto& connector : scanConnectedConnectors(tree.root())) {
        seen.push_back(connector.name + " '" + connector.productName + "'" +
                       (connector.internal ? " internal" : "") +
                       (connector.nativeDisplayPort ? " dp" : ""));
    }
    EXPECT_THAT(seen, ElementsAre("card0-DP-3 '' dp", "card0-DVI-D-1 ''",
                                  "card0-HDMI-A-1 'DELL U2723QE'", "card0-eDP-1 'Panel' internal",
                                  "card1-HDMI-A-2 'card1-'", "card2-DP-2 'card2-' dp",
                                  "card2-DP-10 'card2-' dp", "card10-DP-1 'card10' dp"));
    EXPECT_TRUE(scanConnectedConnectors("/nonexistent/varnu/drm").empty());
}

TEST(DrmConnectorScan, OffersTheBusesThatMayCarryEachDisplayOnceInTheOrderWorthTrying) {
    FakeDrmTree tree;
    // HDMI: its ddc link first, also when it leads to the adapter's device rather than to the
    // i2c-N entry itself.
    tree.addConnector("card0-HDMI-A-1", connected("HDMI", "i2c-3"));
    tree.addConnector("card0-HDMI-A-2", connected("Linked", "adapter0"));
    std::filesystem::create_directories(tree.devices() / "adapter0" / "i2c-dev" / "i2c-11");
    // Native DisplayPort: the AUX adapters inside the connector before the ddc link, which on
    // Intel's is the AUX adapter itself.
    tree.addConnector("card0-DP-1", connected("DP", "i2c-4", {"i2c-12", "i2c-7", "drm_dp_aux0"}));
    tree.addConnector("card0-DP-3", connected("Intel", "card/card0-DP-3/i2c-9", {"i2c-9"}));
    // The card's and the GPU's adapters (DP-MST ports, NVIDIA's) go to every connector of the
    // card, after its own, except those another connector links to or holds.
    tree.addCardAdapter("card0", "i2c-20", "DPMST", true);
    tree.addCardAdapter("card0", "i2c-3", "AMDGPU DM i2c hw bus 0", true);
    tree.addCardAdapter("card0", "i2c-4", "AMDGPU DM i2c hw bus 1", true);
    tree.addCardAdapter("card0", "i2c-21", "NVIDIA i2c adapter 1", true);
    tree.addConnector("card0-DP-2", {"disconnected", {}, "i2c-5", {"i2c-8"}});
    tree.addCardAdapter("card0", "i2c-5", "DDC of DP-2", true);
    // A GPU without connectors: each of its NVIDIA adapters stands for a display.
    tree.addCardAdapter("card1", "i2c-31", "NVIDIA i2c adapter 2", true);
    tree.addCardAdapter("card1", "i2c-30", "NVIDIA i2c adapter 1", true);
    tree.addCardAdapter("card1", "i2c-32", "nvkm-0000:02:00.0-bus-0000", true);

    const auto connectors = scanConnectedConnectors(tree.root());
    ASSERT_EQ(connectors.size(), 6u);
    EXPECT_THAT(buses(connectors[0]), ElementsAre(7, 12, 4, 20, 21));
    EXPECT_EQ(connectors[0].candidates[0].route, BusRoute::ConnectorAdapter);
    EXPECT_EQ(connectors[0].candidates[2].route, BusRoute::DdcLink);
    EXPECT_EQ(connectors[0].candidates[3], (BusCandidate{20, BusRoute::CardAdapter, "DPMST"}));
    EXPECT_THAT(buses(connectors[1]), ElementsAre(9, 20, 21));
    EXPECT_THAT(buses(connectors[2]), ElementsAre(3, 20, 21));
    EXPECT_EQ(connectors[2].candidates[0].adapterName, "");
    EXPECT_THAT(buses(connectors[3]), ElementsAre(11, 20, 21));
    for (std::size_t index : {4, 5}) {
        EXPECT_EQ(connectors[index].name, "i2c-3" + std::to_string(index - 4));
        EXPECT_TRUE(connectors[index].withoutConnector);
        EXPECT_EQ(connectors[index].candidates,
                  (std::vector<BusCandidate>{{30 + static_cast<int>(index) - 4, BusRoute::GpuBus,
                                              "NVIDIA i2c adapter " + std::to_string(index - 3)}}));
    }
}

} // namespace
} // namespace varnu::linux_backend
