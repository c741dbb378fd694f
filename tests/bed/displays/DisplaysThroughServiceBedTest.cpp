// The displays through varnu-devices: the service started as a child on the display bed, a
// client speaking its words byte for byte, Varnu's own client and varnu-probe, and what reaches
// the buses.

#include "platform/linux/ServiceDisplays.h"
#include "tests/bed/devices/DevicesBed.h"
#include "tests/bed/displays/DrmDisplaysBed.h"

#include <unistd.h>

namespace varnu::linux_backend::testing {
namespace {

using namespace devices;
using Bytes = std::vector<std::uint8_t>;
using ::testing::Pair;

class DisplaysThroughServiceBed : public DrmDisplaysBed {
protected:
    // Says Hello, asks for the list and answers the first one that is not empty.
    std::optional<DisplayEntry> listed(bed::RawClient& client) {
        client.send(Hello{});
        client.send(DisplaysWanted{});
        std::optional<DisplayEntry> entry;
        client.receiveUntil(
            [&] {
                for (const auto& message : client.received) {
                    if (auto* each = std::get_if<DisplayEntry>(&message); each && each->count) {
                        entry = *each;
                    }
                }
                return entry.has_value();
            },
            10s);
        return entry;
    }

    // The service's answer to the request, or nothing.
    static std::optional<DdcResult> ask(bed::RawClient& client, const ClientMessage& request,
                                        std::uint32_t id) {
        client.send(request);
        return resultOf(client, id);
    }
    static std::optional<DdcResult> resultOf(bed::RawClient& client, std::uint32_t id) {
        std::optional<DdcResult> answer;
        client.receiveUntil(
            [&] {
                for (const auto& message : client.received) {
                    if (auto* result = std::get_if<DdcResult>(&message);
                        result && result->id == id) {
                        answer = *result;
                    }
                }
                return answer.has_value();
            },
            5s);
        return answer;
    }

    bed::DevicesBed service;
};

TEST_F(DisplaysThroughServiceBed, CarriesOnlyVarnusRequestsToTheDisplaysOfItsList) {
    plugHDMI();
    service.seat({{::getuid(), "active"}});
    ASSERT_TRUE(service.startService({"--dev", dev.root()}));
    bed::RawClient client(service.socketPath());
    auto entry = listed(client);
    ASSERT_TRUE(entry);
    EXPECT_EQ(entry->productName, "AMD HDMI");
    EXPECT_THAT(entry->identity, ::testing::StartsWith("card0-HDMI-A-1 "));
    EXPECT_EQ(entry->bus, 4);
    const DisplayToken display{entry->generation, 0};
    const Bytes setVolume{0x84, 0x03, 0x62, 0x00, 0x1E, 0xC4};
    dev.clearTransfers();

    const struct {
        const char* what;
        ClientMessage request;
        std::uint32_t status;
    } requests[] = {
        {"volume", DdcWrite{1, display, 0x37, 0x51, setVolume}, 0},
        {"Get VCP", DdcWrite{2, display, 0x37, 0x51, kGetVolume}, 0},
        {"its reply", DdcRead{3, display, 0x37, 0x51, 11}, 0},
        {"an EDID write", DdcWrite{4, display, kEdidAddress, 0x00, {0x00, 0x12}}, EPERM},
        {"an EDID read", DdcRead{5, display, kEdidAddress, 0x51, 11}, EPERM},
        {"another address", DdcWrite{6, display, 0x3A, 0x51, kGetVolume}, EPERM},
        {"another control", DdcWrite{7, display, 0x37, 0x51, {0x82, 0x01, 0x10, 0xAC}}, EPERM},
        {"a display not listed", DdcWrite{8, {display.generation, 1}, 0x37, 0x51, kGetVolume},
         ENODEV},
        {"an older list", DdcWrite{9, {display.generation - 1, 0}, 0x37, 0x51, kGetVolume}, ENODEV},
        {"a volume of 101", DdcWrite{10, display, 0x37, 0x51, {0x84, 0x03, 0x62, 0x00, 0x65, 0xBF}},
         EPERM},
        {"a volume of 256", DdcWrite{11, display, 0x37, 0x51, {0x84, 0x03, 0x62, 0x01, 0x00, 0xDB}},
         EPERM},
        {"a mute of 3", DdcWrite{12, display, 0x37, 0x51, {0x84, 0x03, 0x8D, 0x00, 0x03, 0x36}},
         EPERM},
        {"a menu of 0", DdcWrite{13, display, 0x37, 0x51, {0x84, 0x03, 0xCA, 0x00, 0x00, 0x72}},
         EPERM},
    };
    std::uint32_t id = 1;
    for (const auto& each : requests) {
        auto result = ask(client, each.request, id++);
        ASSERT_TRUE(result) << each.what;
        EXPECT_EQ(result->status, each.status) << each.what;
    }
    EXPECT_EQ(amdHDMI.monitor->control(kVCPAudioSpeakerVolume)->current, 30);
    EXPECT_EQ(std::get<DdcResult>(client.received.back()).id, 13u);

    // Another session in front: its user's programs reach no display. Its standing tells when
    // the service saw the switch.
    client.send(TapWanted{true});
    service.seat({{::getuid(), "inactive"}});
    ASSERT_TRUE(client.receiveUntil(
        [&] {
            return std::get_if<Standing>(&client.received.back()) &&
                   std::get<Standing>(client.received.back()).standing ==
                       ClientStanding::SessionInactive;
        },
        5s));
    auto refused = ask(client, DdcWrite{id, display, 0x37, 0x51, setVolume}, id);
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->status, static_cast<std::uint32_t>(EPERM));
    EXPECT_THAT(dev.transfers(4), ElementsAre("write 37: 51 84 03 62 00 1E C4",
                                              "write 37: 51 82 01 62 DE", "read 37: 11"));
    EXPECT_FALSE(client.ended());
}

TEST_F(DisplaysThroughServiceBed, AGetVCPRequestHoldsItsBusOnlyUntilItsReplyIsDue) {
    plugHDMI();
    auto gpu = tree.addGpu("0000:04:00.0");
    auto dp =
        tree.addConnector(tree.addCard(gpu, "card1"), "card1-DP-1", "connected", nvidiaDP.edid);
    tree.linkDdc(dp, tree.addAdapter(gpu, 5, "NVIDIA i2c adapter 5"));
    dev.setBus(5, carrying(nvidiaDP));
    service.seat({{::getuid(), "active"}});
    ASSERT_TRUE(service.startService({"--dev", dev.root()}));
    bed::RawClient holder(service.socketPath());
    bed::RawClient other(service.socketPath());
    auto entry = listed(holder);
    ASSERT_TRUE(entry && entry->count == 2 && listed(other));
    const DisplayToken first{entry->generation, 0};
    const DisplayToken second{entry->generation, 1};
    const Bytes setVolume{0x84, 0x03, 0x62, 0x00, 0x1E, 0xC4};
    auto resultIds = [](const bed::RawClient& client) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> results;
        for (const auto& message : client.received) {
            if (auto* result = std::get_if<DdcResult>(&message)) {
                results.emplace_back(result->id, result->status);
            }
        }
        return results;
    };

    // A Get VCP request whose reply is never read: the other client's transfer to that display
    // waits for the reply's time, and meanwhile the other display is reached.
    ASSERT_EQ(ask(holder, DdcWrite{1, first, 0x37, 0x51, kGetVolume}, 1)->status, 0u);
    other.send(DdcWrite{1, first, 0x37, 0x51, setVolume});
    ASSERT_EQ(ask(other, DdcWrite{2, second, 0x37, 0x51, setVolume}, 2)->status, 0u);
    ASSERT_TRUE(resultOf(other, 1));
    EXPECT_THAT(resultIds(other), ElementsAre(Pair(2, 0), Pair(1, 0)));

    // Its user leaving the front lets go of the bus at once.
    ASSERT_EQ(ask(holder, DdcWrite{2, first, 0x37, 0x51, kGetVolume}, 2)->status, 0u);
    other.send(TapWanted{true});
    service.seat({{::getuid(), "inactive"}});
    auto standsAs = [&](ClientStanding standing) {
        return other.receiveUntil(
            [&] {
                auto* said = std::get_if<Standing>(&other.received.back());
                return said && said->standing == standing;
            },
            5s);
    };
    ASSERT_TRUE(standsAs(ClientStanding::SessionInactive));
    service.seat({{::getuid(), "active"}});
    ASSERT_TRUE(standsAs(ClientStanding::Served));
    other.send(DdcWrite{3, first, 0x37, 0x51, setVolume});
    ASSERT_TRUE(ask(other, DdcWrite{4, second, 0x37, 0x51, setVolume}, 4));
    ASSERT_TRUE(resultOf(other, 3));
    EXPECT_THAT(resultIds(other), ElementsAre(Pair(2, 0), Pair(1, 0), Pair(3, 0), Pair(4, 0)));
}

TEST_F(DisplaysThroughServiceBed, TellsTheDisplaysAndTheirChangesOnlyToTheUserInFront) {
    constexpr uid_t kOtherUser = 1234;
    const auto hdmi = plugHDMI();
    service.seat({{::getuid(), "active"}, {kOtherUser, "inactive"}});
    ASSERT_TRUE(service.startService({"--dev", dev.root()}));
    bed::ClientOfUser other(service.socketPath(), kOtherUser, {DisplaysWanted{}});
    bed::RawClient client(service.socketPath());
    ASSERT_TRUE(listed(client));
    auto lists = [](const auto& heard) { return bed::countOf<DisplayEntry>(heard.said); };
    EXPECT_EQ(lists(other.heardUntil([](const auto&) { return false; }, 200ms)), 0);

    // Its user comes to the front: it is told the list, and the change that follows; the user
    // who left the front is told nothing more.
    service.seat({{::getuid(), "inactive"}, {kOtherUser, "active"}});
    EXPECT_EQ(lists(other.heardUntil([&](const auto& heard) { return lists(heard) > 0; }, 5s)), 1);
    tree.setConnector(hdmi, "disconnected", {});
    tree.uevent(hdmi, "change");
    EXPECT_EQ(lists(other.heardUntil([&](const auto& heard) { return lists(heard) > 1; }, 10s)), 2);
    const auto before = client.received.size();
    client.receiveFor(200ms);
    EXPECT_EQ(client.received.size(), before);
}

TEST_F(DisplaysThroughServiceBed, VarnuAndTheProbeSpeakThroughTheServiceUntilItGoes) {
    plugHDMI();
    service.seat({{::getuid(), "active"}});
    ASSERT_TRUE(service.startService({"--dev", dev.root()}));
    auto connection = DevicesConnection::open(service.socketPath());
    ServiceDisplays displays(connection, mainQueue);
    int changes = 0;
    displays.setChangeHandler([&] { ++changes; });
    ASSERT_TRUE(mainQueue->pumpUntil([&] { return changes == 1; }, 10s));
    ASSERT_EQ(displays.externalDisplays().size(), 1u);
    auto listed = displays.externalDisplays();
    EXPECT_EQ(listed[0].productName, "AMD HDMI");
    dev.clearTransfers();
    DDCMonitor monitor(std::move(listed[0].service), listed[0].productName,
                       std::make_shared<SleepingPause>(), listed[0].identity);
    EXPECT_TRUE(monitor.write(kVCPAudioSpeakerVolume, 30));
    auto reading = monitor.read(kVCPAudioSpeakerVolume);
    ASSERT_TRUE(reading);
    EXPECT_EQ(reading->current, 30);
    // The same bytes and sends as on a bus of Varnu's own.
    const std::string setVolume = "write 37: 51 84 03 62 00 1E C4";
    EXPECT_THAT(dev.transfers(4),
                ElementsAre(setVolume, setVolume, "write 37: 51 82 01 62 DE", "read 37: 11"));

    // varnu-probe goes the same way, and reaches no bus the service did not list.
    const auto socket = "--socket " + service.socketPath();
    EXPECT_THAT(probe(socket + " monitors"), AllOf(HasSubstr("through Varnu's device service"),
                                                   HasSubstr("i2c-4  \"AMD HDMI\"")));
    EXPECT_THAT(probe(socket + " vcp 4 0x62"), HasSubstr("VCP 0x62: current 30"));
    EXPECT_THAT(probe(socket + " --force vcp 5 0x62", true),
                HasSubstr("carries no display the device service found"));

    service.stopService();
    EXPECT_FALSE(monitor.write(kVCPAudioSpeakerVolume, 40));
    EXPECT_TRUE(mainQueue->pumpUntil([&] { return changes == 2; }, 5s));
    EXPECT_THAT(displays.externalDisplays(), IsEmpty());
}

} // namespace
} // namespace varnu::linux_backend::testing
