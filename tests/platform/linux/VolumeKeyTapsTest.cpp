// Varnu's side of the device service against a service played by the test on a real socket:
// which way the keys are caught, the questions answered on the main thread within the bound,
// the tap switched off and asked for again when the service goes and comes back, and the
// displays the service lists with their transfers.

#include "platform/linux/VolumeKeyTaps.h"

#include "platform/PumpedMainQueue.h"
#include "platform/linux/ServiceDisplays.h"
#include "platform/linux/ServiceKeyTap.h"
#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/VolumeKeyStrokes.h"
#include "tests/platform/linux/TempDir.h"

#include <future>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace devices;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr milliseconds kBound{2000};

// The service's end: one listening socket, one client at a time.
class PlayedService {
public:
    explicit PlayedService(const std::string& path) {
        auto address = socketAddress(path);
        listen_ = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
        ::bind(listen_, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
        ::listen(listen_, 4);
    }
    ~PlayedService() {
        hangUp();
        ::close(listen_);
    }

    // Takes the next client and answers its Hello.
    bool greet(const ServiceMessage& answer = Welcome{}) {
        pollfd waiting{listen_, POLLIN, 0};
        if (::poll(&waiting, 1, static_cast<int>(kBound.count())) != 1) {
            return false;
        }
        client_ = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        // As the service does, a welcome comes with the client's standing.
        return next() == ClientMessage{Hello{}} && say(answer) &&
               (answer != ServiceMessage{Welcome{}} || say(Standing{}));
    }
    bool say(const ServiceMessage& message) { return sendPacket(client_, encode(message)); }
    std::optional<ClientMessage> next() {
        pollfd waiting{client_, POLLIN, 0};
        Packet packet;
        if (::poll(&waiting, 1, static_cast<int>(kBound.count())) != 1 ||
            receivePacket(client_, packet) != Received::Packet) {
            return std::nullopt;
        }
        return parseClientMessage(packet.view());
    }
    void hangUp() {
        if (client_ >= 0) {
            ::close(client_);
            client_ = -1;
        }
    }

private:
    int listen_ = -1;
    int client_ = -1;
};

class VolumeKeyTapsTest : public ::testing::Test {
protected:
    VolumeKeyTapSettings settings() const {
        VolumeKeyTapSettings settings;
        settings.socketPath = socketPath;
        settings.retries = {milliseconds(10), milliseconds(50)};
        return settings;
    }
    // Like the core: a tap switched off is switched on again.
    std::unique_ptr<EventTap> tapWith(VolumeKeyTaps& taps, TapDecision decision) {
        return taps.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                              eventMaskBit(kCGEventSystemDefined),
                              [this, decision](const TappedEvent& event) {
                                  if (event.type >= kCGEventTapDisabledByTimeout) {
                                      switchedOff.push_back(event.type);
                                      tap->enable(true);
                                  } else {
                                      heard.push_back(*event.event);
                                  }
                                  return decision;
                              });
    }

    testing::TempDir dir;
    std::string socketPath = (dir.path() / "devices.socket").string();
    std::shared_ptr<PumpedMainQueue> mainQueue = std::make_shared<PumpedMainQueue>();
    std::unique_ptr<EventTap> tap;
    std::vector<SystemDefinedEvent> heard;
    std::vector<CGEventType> switchedOff;
};

TEST_F(VolumeKeyTapsTest, ChoosesTheServiceWhereOneListensAndReadsTheKeyboardsOnlyWhereNone) {
    VolumeKeyTaps none(mainQueue, settings(), nullptr);
    EXPECT_EQ(none.path().route, VolumeKeyTaps::Route::Local);
    EXPECT_THAT(none.path().why, HasSubstr("no device service is installed"));

    const std::vector<std::tuple<RefusalReason, VolumeKeyTaps::Route, std::string>> refusals{
        {RefusalReason::NoLoginManager, VolumeKeyTaps::Route::Local, "without systemd-logind"},
        {RefusalReason::UnsupportedVersion, VolumeKeyTaps::Route::Local, "another protocol"},
        {RefusalReason::NotAtSeat, VolumeKeyTaps::Route::Service, "in front of the seat"},
    };
    for (const auto& [reason, route, why] : refusals) {
        PlayedService service(socketPath);
        auto greeted =
            std::async(std::launch::async, [&] { return service.greet(Refused{reason}); });
        VolumeKeyTaps taps(mainQueue, settings(), nullptr);
        EXPECT_EQ(taps.path().route, route);
        EXPECT_THAT(taps.path().why, HasSubstr(why));
        EXPECT_TRUE(greeted.get());
        if (route == VolumeKeyTaps::Route::Service) {
            EXPECT_FALSE(taps.isProcessTrusted(false));
            EXPECT_THAT(taps.missingAccessAdvice()->german, HasSubstr("vorn am Bildschirm"));
        }
        ::unlink(socketPath.c_str());
    }
}

TEST_F(VolumeKeyTapsTest, AnswersOnTheMainThreadAndAsksAgainWhenTheServiceComesBack) {
    PlayedService service(socketPath);
    auto greeted = std::async(std::launch::async, [&] { return service.greet(); });
    VolumeKeyTaps taps(mainQueue, settings(), nullptr);
    ASSERT_TRUE(taps.isProcessTrusted(false));
    ASSERT_TRUE(greeted.get());
    tap = tapWith(taps, TapDecision::Swallow);
    EXPECT_EQ(service.next(), ClientMessage{TapWanted{true}});

    const KeyStroke up{VolumeKey::Up, KeyAction::Press, kShiftHeld | kAltHeld};
    ASSERT_TRUE(service.say(Question{7, up}));
    ASSERT_TRUE(mainQueue->pumpUntil([&] { return heard.size() == 1; }, kBound));
    EXPECT_EQ(heard[0], eventOf(up));
    EXPECT_EQ(service.next(), (ClientMessage{Answer{7, true}}));

    // A question whose time runs out before an answer could be back (one asked behind another,
    // or reached late): the service passes the key on, so the core must not act on it as well.
    ASSERT_TRUE(service.say(
        Question{8, up, static_cast<std::uint16_t>(ServiceKeyTap::kAnswerMargin.count() - 1)}));
    mainQueue->pumpFor(milliseconds(20));
    EXPECT_EQ(heard.size(), 1u);
    EXPECT_EQ(service.next(), (ClientMessage{Answer{8, false}}));

    // The service switched the tap off, then it went: each time the core switches it on again,
    // and the keys are asked for once the service is back.
    ASSERT_TRUE(service.say(TapSwitchedOff{SwitchOffCause::Timeout}));
    ASSERT_TRUE(mainQueue->pumpUntil([&] { return switchedOff.size() == 1; }, kBound));
    EXPECT_EQ(service.next(), ClientMessage{TapWanted{true}});
    service.hangUp();
    ASSERT_TRUE(mainQueue->pumpUntil([&] { return switchedOff.size() == 2; }, kBound));
    EXPECT_THAT(switchedOff,
                ElementsAre(kCGEventTapDisabledByTimeout, kCGEventTapDisabledByUserInput));
    ASSERT_TRUE(service.greet());
    EXPECT_EQ(service.next(), ClientMessage{TapWanted{true}});

    // A tap that goes wants no keys.
    tap.reset();
    EXPECT_EQ(service.next(), ClientMessage{TapWanted{false}});
}

TEST_F(VolumeKeyTapsTest, DisplaysComeWholeFromTheServiceAndFailAtOnceWhenItGoes) {
    PlayedService service(socketPath);
    auto connection = DevicesConnection::open(socketPath, settings().retries);
    ASSERT_TRUE(service.greet());
    ServiceDisplays displays(connection, mainQueue);
    int changes = 0;
    displays.setChangeHandler([&] { ++changes; });
    ASSERT_EQ(service.next(), ClientMessage{DisplaysWanted{}});
    service.say(DisplayEntry{4, 0, 2, "LG", "card0-DP-1 01"});
    mainQueue->pumpFor(milliseconds(20));
    EXPECT_TRUE(displays.externalDisplays().empty()) << "half a list";
    service.say(DisplayEntry{4, 1, 2, "Dell", "card0-DP-2 02"});
    ASSERT_TRUE(mainQueue->pumpUntil([&] { return changes == 1; }, kBound));
    auto listed = displays.externalDisplays();
    ASSERT_EQ(listed.size(), 2u);
    EXPECT_EQ(listed[1].productName, "Dell");
    EXPECT_EQ(listed[1].identity, "card0-DP-2 02");

    // As on the "ddc" queue: each call waits for the service's answer.
    std::array<std::uint8_t, 11> reply{};
    auto read = std::async(std::launch::async,
                           [&] { return listed[1].service->readI2C(0x37, 0x51, reply); });
    ASSERT_EQ(service.next(), (ClientMessage{DdcRead{1, {4, 1}, 0x37, 0x51, 11}}));
    const std::vector<std::uint8_t> answer{0x6E, 0x88, 0x02, 0x00, 0x62, 0x00,
                                           0x00, 0x64, 0x00, 0x1E, 0x00};
    service.say(DdcResult{1, 0, answer});
    EXPECT_EQ(read.get(), kIOReturnSuccess);
    EXPECT_TRUE(std::equal(reply.begin(), reply.end(), answer.begin(), answer.end()));
    // A failure's bytes are not copied, whatever their size.
    std::array<std::uint8_t, 16> guarded{};
    auto failed = std::async(std::launch::async, [&] {
        return listed[1].service->readI2C(0x37, 0x51, std::span(guarded).first(4));
    });
    ASSERT_EQ(service.next(), (ClientMessage{DdcRead{2, {4, 1}, 0x37, 0x51, 4}}));
    service.say(DdcResult{2, EIO, answer});
    EXPECT_EQ(failed.get(), EIO);
    EXPECT_EQ(guarded, decltype(guarded){});

    const std::array<std::uint8_t, 4> getVolume{0x82, 0x01, 0x62, 0xDE};
    auto write = std::async(std::launch::async,
                            [&] { return listed[0].service->writeI2C(0x37, 0x51, getVolume); });
    ASSERT_EQ(service.next(),
              (ClientMessage{DdcWrite{3, {4, 0}, 0x37, 0x51, {0x82, 0x01, 0x62, 0xDE}}}));
    service.hangUp();
    EXPECT_EQ(write.get(), ENOTCONN);
    EXPECT_TRUE(mainQueue->pumpUntil(
        [&] { return changes == 2 && displays.externalDisplays().empty(); }, kBound));
}

} // namespace
} // namespace varnu::linux_backend
