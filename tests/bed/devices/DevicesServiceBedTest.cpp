// varnu-devices against the emulated keyboards: whom it serves, what it tells them, and that
// every way a client or the service itself fails leaves the keyboards to the desktop.

#include "platform/linux/VolumeKeyTaps.h"
#include "tests/bed/devices/DevicesBed.h"
#include "tests/bed/input/KeyboardBed.h"

#include <algorithm>
#include <string_view>
#include <sys/wait.h>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::bed {
namespace {

using namespace linux_backend::devices;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using Key = std::pair<std::uint16_t, std::int32_t>;
using Keys = std::vector<Key>;

constexpr uid_t kUser = 0; // the tests' own user is the one in front
constexpr uid_t kSwitchedAwayUser = 1234;
constexpr uid_t kRemoteUser = 4321;
constexpr milliseconds kBound{1000};

const std::string kLaptop = laptopKeyboard().name;
const std::string kConsumer = usbConsumerControl().name;

// The keys every clone of that name passed on, gone or not, oldest first.
Keys cloneKeys(const KeyboardBed& machine, const std::string& name) {
    Keys keys;
    for (const auto& device : machine.uinput.devices()) {
        for (const auto& event : device.events) {
            if (device.created && device.description.name == name && event.type == EV_KEY) {
                keys.emplace_back(event.code, event.value);
            }
        }
    }
    return keys;
}

std::vector<std::uint8_t> bytesOf(const Packet& packet) {
    auto view = packet.view();
    return {view.begin(), view.end()};
}

std::uint16_t keyOfLetter(char letter) {
    constexpr std::string_view kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};
    constexpr std::uint16_t kRowStarts[] = {KEY_Q, KEY_A, KEY_Z};
    for (std::size_t row = 0; row < 3; ++row) {
        if (auto at = kRows[row].find(letter); at != std::string_view::npos) {
            return static_cast<std::uint16_t>(kRowStarts[row] + at);
        }
    }
    return KEY_SPACE;
}

bool saidLast(const RawClient& client, const ServiceMessage& message) {
    return !client.received.empty() && client.received.back() == message;
}

Question lastQuestion(const RawClient& client) {
    auto question = std::find_if(client.received.rbegin(), client.received.rend(),
                                 [](auto& said) { return std::holds_alternative<Question>(said); });
    return question == client.received.rend() ? Question{} : std::get<Question>(*question);
}

class DevicesServiceBed : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(UmockdevBed::isActive()) << "run under umockdev-wrapper";
        devices.seat({{kUser, "active"}});
        ASSERT_TRUE(devices.startService());
    }

    // Stopped as systemd stops it, the service ends cleanly (and, sanitized, without leaks).
    void TearDown() override {
        int status = devices.stopService(SIGTERM);
        EXPECT_TRUE(status == -1 || (WIFEXITED(status) && WEXITSTATUS(status) == 0)) << status;
    }

    bool held() { return laptop.isGrabbed() && consumer.isGrabbed(); }
    bool letGo() {
        return !laptop.isGrabbed() && !consumer.isGrabbed() && !machine.clone(kLaptop) &&
               !machine.clone(kConsumer);
    }
    // A client of this process that asked for the keys and is served.
    void serve(RawClient& client) {
        ASSERT_TRUE(client.send(Hello{}));
        ASSERT_TRUE(client.send(TapWanted{true}));
        ASSERT_TRUE(machine.until([&] { return held(); }));
    }
    // Waits for the next question and answers it, as late as asked.
    void answerNext(RawClient& client, bool keep, milliseconds after = milliseconds(0)) {
        auto before = countOf<Question>(client.received);
        ASSERT_TRUE(client.receiveUntil([&] { return countOf<Question>(client.received) > before; },
                                        kBound));
        std::this_thread::sleep_for(after);
        ASSERT_TRUE(client.send(Answer{lastQuestion(client).id, keep}));
    }

    KeyboardBed machine;
    EmulatedEvdevDevice& laptop = machine.plug(laptopKeyboard());
    EmulatedEvdevDevice& consumer = machine.plug(usbConsumerControl());
    // Goes first: the service's device calls are answered by the machine's bed.
    DevicesBed devices;
};

TEST_F(DevicesServiceBed, HoldsTheKeyboardsOnlyForTheUserInFrontAndTellsThatUserOnlyVolumeKeys) {
    devices.seat({{kSwitchedAwayUser, "inactive"}});
    // With no Varnu asking, no keyboard is touched.
    machine.pumpFor(milliseconds(200));
    EXPECT_EQ(laptop.grabAttempts() + consumer.grabAttempts(), 0);
    EXPECT_FALSE(machine.clone(kLaptop));

    ClientOfUser remote(devices.socketPath(), kRemoteUser);
    ClientOfUser switchedAway(devices.socketPath(), kSwitchedAwayUser);
    RawClient client(devices.socketPath());
    ASSERT_NO_FATAL_FAILURE(serve(client));

    // A sentence typed through the clone, with the volume keys in between: up with Shift held
    // (kept), down (passed), mute (passed).
    Keys typed;
    for (char letter : std::string_view("The quick brown fox jumps over the lazy dog")) {
        bool capital = letter >= 'A' && letter <= 'Z';
        auto code = keyOfLetter(capital ? static_cast<char>(letter - 'A' + 'a') : letter);
        if (capital) {
            laptop.press(KEY_LEFTSHIFT);
            typed.emplace_back(KEY_LEFTSHIFT, 1);
        }
        laptop.type(code);
        typed.insert(typed.end(), {{code, 1}, {code, 0}});
        if (capital) {
            laptop.release(KEY_LEFTSHIFT);
            typed.emplace_back(KEY_LEFTSHIFT, 0);
        }
        // A word at a time: the bed's stream is a terminal, which splits longer bursts
        // mid-event where a keyboard never would.
        if (letter == ' ') {
            ASSERT_TRUE(
                machine.until([&] { return machine.keysOf(kLaptop).size() == typed.size(); }));
        }
    }
    laptop.press(KEY_LEFTSHIFT);
    consumer.press(KEY_VOLUMEUP);
    ASSERT_NO_FATAL_FAILURE(answerNext(client, true));
    // Shift goes up once the kept key's release has been told, with Shift still held.
    consumer.release(KEY_VOLUMEUP);
    ASSERT_TRUE(client.receiveUntil([&] { return countOf<Notice>(client.received) == 1; }, kBound));
    laptop.release(KEY_LEFTSHIFT);
    typed.insert(typed.end(), {{KEY_LEFTSHIFT, 1}, {KEY_LEFTSHIFT, 0}});
    for (auto code : {KEY_VOLUMEDOWN, KEY_MUTE}) {
        laptop.press(code);
        ASSERT_NO_FATAL_FAILURE(answerNext(client, false));
        laptop.release(code);
        typed.insert(typed.end(), {{code, 1}, {code, 0}});
    }
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kLaptop).size() >= typed.size(); }));
    EXPECT_THAT(machine.keysOf(kLaptop), ElementsAreArray(typed));
    EXPECT_TRUE(machine.keysOf(kConsumer).empty());

    // What reached the client: three questions and the kept key's release, nothing else.
    client.receiveFor(milliseconds(100));
    EXPECT_EQ(client.garbled, 0);
    std::vector<KeyStroke> strokes;
    for (const auto& message : client.received) {
        if (auto* question = std::get_if<Question>(&message)) {
            strokes.push_back(question->stroke);
        } else if (auto* notice = std::get_if<Notice>(&message)) {
            strokes.push_back(notice->stroke);
        } else {
            EXPECT_TRUE(std::holds_alternative<Welcome>(message) ||
                        std::holds_alternative<Standing>(message));
        }
    }
    EXPECT_THAT(strokes, ElementsAre(KeyStroke{VolumeKey::Up, KeyAction::Press, kShiftHeld},
                                     KeyStroke{VolumeKey::Up, KeyAction::Release, kShiftHeld},
                                     KeyStroke{VolumeKey::Down, KeyAction::Press, 0},
                                     KeyStroke{VolumeKey::Mute, KeyAction::Press, 0}));

    // The user in front changes: the client that was switched away is served now, and when a
    // greeter comes to the front, nobody is.
    devices.seat({{kSwitchedAwayUser, "active"}, {kUser, "inactive"}});
    const ServiceMessage inactive{Standing{ClientStanding::SessionInactive}};
    ASSERT_TRUE(client.receiveUntil([&] { return saidLast(client, inactive); }, kBound));
    EXPECT_TRUE(held());
    devices.seat({{kSwitchedAwayUser, "inactive"}});
    ASSERT_TRUE(machine.until([&] { return letGo(); }));

    auto remoteHeard = remote.finish();
    EXPECT_THAT(remoteHeard.said, ElementsAre(ServiceMessage{Refused{RefusalReason::NotAtSeat}}));
    EXPECT_EQ(remoteHeard.ended, 1);
    const auto switchedAwayPid = static_cast<std::uint32_t>(switchedAway.pid());
    auto switchedAwayHeard = switchedAway.finish();
    EXPECT_THAT(switchedAwayHeard.said,
                ElementsAre(ServiceMessage{Welcome{}},
                            ServiceMessage{Standing{ClientStanding::TapNotWanted}},
                            ServiceMessage{Standing{ClientStanding::SessionInactive}},
                            ServiceMessage{Standing{ClientStanding::Served, switchedAwayPid}},
                            ServiceMessage{Standing{ClientStanding::SessionInactive}}));
    EXPECT_EQ(switchedAwayHeard.ended, 0);
}

TEST_F(DevicesServiceBed, NoUserCanCrowdOutTheUserInFrontNorKeepConnectionsAfterLeavingTheSeat) {
    // Three users switched away each try seven connections: a user gets six at most, and those
    // not in front twelve together.
    constexpr int kTries = 7;
    devices.seat({{1001, "inactive"}, {1002, "inactive"}, {1003, "inactive"}});
    std::vector<std::unique_ptr<ClientOfUser>> crowd;
    std::vector<int> welcomed;
    for (uid_t user : {1001, 1002, 1003}) {
        crowd.push_back(std::make_unique<ClientOfUser>(
            devices.socketPath(), user, std::vector<ClientMessage>{TapWanted{true}}, kTries));
        const auto& heard = crowd.back()->heardUntil(
            [](const auto& heard) { return countOf<Welcome>(heard.said) + heard.ended == kTries; },
            kBound);
        welcomed.push_back(countOf<Welcome>(heard.said));
        EXPECT_EQ(countOf<Refused>(heard.said), heard.ended);
    }
    EXPECT_THAT(welcomed, ElementsAre(6, 6, 0));
    RawClient client(devices.socketPath());
    ASSERT_NO_FATAL_FAILURE(serve(client));

    // A connection that never says Hello does not keep its place.
    RawClient silent(devices.socketPath());
    EXPECT_TRUE(silent.receiveUntil([&] { return silent.ended(); }, 3 * kBound));
    EXPECT_TRUE(silent.received.empty());

    // The others log out: their connections end.
    devices.seat({{1001, "absent"}, {1002, "absent"}, {1003, "absent"}});
    for (auto& each : crowd) {
        EXPECT_EQ(
            each->heardUntil([](const auto& heard) { return heard.ended == kTries; }, kBound).ended,
            kTries);
    }
    EXPECT_TRUE(held());
}

TEST_F(DevicesServiceBed, AClientThatHangsOrGoesHasEveryKeyboardLetGoWithinTheBound) {
    auto client = std::make_unique<RawClient>(devices.socketPath());
    ASSERT_NO_FATAL_FAILURE(serve(*client));

    // A question left unanswered: the key goes on to the desktop, then every keyboard.
    consumer.press(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return letGo(); }, kBound));
    EXPECT_THAT(cloneKeys(machine, kConsumer), ElementsAre(Key{KEY_VOLUMEUP, 1}));
    consumer.release(KEY_VOLUMEUP);
    const ServiceMessage notAnswering{Standing{ClientStanding::NotAnswering}};
    ASSERT_TRUE(client->receiveUntil([&] { return saidLast(*client, notAnswering); }, kBound));
    EXPECT_EQ(countOf<TapSwitchedOff>(client->received), 1);

    // Its DDC/CI thread goes on while its main thread hangs: that takes no keyboard back.
    ASSERT_TRUE(client->send(DdcRead{1, {}, 0x37, 0x51, 11}));
    ASSERT_TRUE(
        client->receiveUntil([&] { return countOf<DdcResult>(client->received) == 1; }, kBound));
    client->receiveFor(milliseconds(50));
    EXPECT_TRUE(std::holds_alternative<DdcResult>(client->received.back()));

    // The late answer shows it is back: the keyboards are taken again.
    auto late =
        std::find_if(client->received.begin(), client->received.end(),
                     [](const auto& message) { return std::holds_alternative<Question>(message); });
    ASSERT_TRUE(client->send(Answer{std::get<Question>(*late).id, true}));
    ASSERT_TRUE(machine.until([&] { return held(); }));
    consumer.type(KEY_VOLUMEDOWN);
    ASSERT_NO_FATAL_FAILURE(answerNext(*client, false));
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 2; }));

    // A client that is killed closes its socket.
    client.reset();
    ASSERT_TRUE(machine.until([&] { return letGo(); }, kBound));
    EXPECT_TRUE(devices.serviceRuns());
}

TEST_F(DevicesServiceBed, KeysBehindVolumeKeysWaitNoLongerThanTheFirstOnesBoundForASlowClient) {
    RawClient client(devices.socketPath());
    ASSERT_NO_FATAL_FAILURE(serve(client));
    const ServiceMessage notAnswering{Standing{ClientStanding::NotAnswering}};

    // Two volume keys and a letter on the laptop's keyboard, answered 200 ms after each came:
    // the second press has only what is left of the first one's 250 ms, and goes on with the
    // letter behind it when that is up.
    for (auto code : {KEY_VOLUMEUP, KEY_VOLUMEUP, KEY_A}) {
        laptop.type(code);
    }
    ASSERT_NO_FATAL_FAILURE(answerNext(client, true, milliseconds(200)));
    ASSERT_NO_FATAL_FAILURE(answerNext(client, true, milliseconds(200)));
    EXPECT_LT(lastQuestion(client).answerWithinMs, 100);
    ASSERT_TRUE(client.receiveUntil([&] { return saidLast(client, notAnswering); }, kBound));
    EXPECT_THAT(cloneKeys(machine, kLaptop), ElementsAre(Key{KEY_VOLUMEUP, 1}, Key{KEY_VOLUMEUP, 0},
                                                         Key{KEY_A, 1}, Key{KEY_A, 0}));

    // Its late answer took the keyboards back. Now it answers in time, but near the bound,
    // press after press: that is no answer either.
    const ServiceMessage served{
        Standing{ClientStanding::Served, static_cast<std::uint32_t>(::getpid())}};
    ASSERT_TRUE(client.receiveUntil([&] { return saidLast(client, served); }, kBound));
    ASSERT_TRUE(machine.until([&] { return held(); }));
    for (int press = 0; press < 3 && !saidLast(client, notAnswering); ++press) {
        consumer.type(KEY_VOLUMEDOWN);
        ASSERT_NO_FATAL_FAILURE(answerNext(client, true, milliseconds(150)));
        client.receiveFor(milliseconds(50));
    }
    EXPECT_TRUE(client.receiveUntil([&] { return saidLast(client, notAnswering); }, kBound));
    EXPECT_TRUE(machine.until([&] { return letGo(); }, kBound));
}

TEST_F(DevicesServiceBed, AMalformedMessageEndsOnlyTheConnectionItCameOn) {
    RawClient client(devices.socketPath());
    ASSERT_NO_FATAL_FAILURE(serve(client));
    const std::vector<std::vector<std::uint8_t>> spoiled{
        {0x7F, 0x00},                          // no such word
        std::vector<std::uint8_t>(4096, 0x12), // far too long
        bytesOf(encode(Answer{1, true})),      // before any Hello
    };
    for (const auto& bytes : spoiled) {
        RawClient other(devices.socketPath());
        if (&bytes != &spoiled.back()) {
            ASSERT_TRUE(other.send(Hello{}));
        }
        ASSERT_TRUE(other.sendBytes(bytes));
        EXPECT_TRUE(other.receiveUntil([&] { return other.ended(); }, kBound)) << bytes.size();
    }
    // A second Hello is out of turn, on the served client too.
    RawClient twice(devices.socketPath());
    ASSERT_TRUE(twice.send(Hello{}));
    ASSERT_TRUE(twice.send(Hello{}));
    EXPECT_TRUE(twice.receiveUntil([&] { return twice.ended(); }, kBound));

    EXPECT_TRUE(devices.serviceRuns());
    EXPECT_TRUE(held());
    consumer.type(KEY_MUTE);
    ASSERT_NO_FATAL_FAILURE(answerNext(client, false));
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 2; }));
}

TEST_F(DevicesServiceBed, VarnuCatchesKeysThroughTheServiceAndTheServiceKilledLeavesTheKeyboards) {
    // Another program of this user asked for the keys first: it gets them, and Varnu and the
    // probe say which one.
    auto first = std::make_unique<ClientOfUser>(devices.socketPath(), kUser);
    const auto firstPid = "(pid " + std::to_string(first->pid()) + ")";
    ASSERT_TRUE(machine.until([&] { return held(); }));
    linux_backend::VolumeKeyTapSettings settings;
    settings.socketPath = devices.socketPath();
    settings.retries = {milliseconds(20), milliseconds(100)};
    linux_backend::VolumeKeyTaps taps(machine.mainQueue, settings, nullptr);
    ASSERT_TRUE(taps.isProcessTrusted(true));
    EXPECT_EQ(taps.path().route, linux_backend::VolumeKeyTaps::Route::Service);
    std::vector<TappedEvent> heard;
    std::vector<CGEventType> switchedOff;
    std::unique_ptr<EventTap> tap;
    tap = taps.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                         eventMaskBit(kCGEventSystemDefined), [&](const TappedEvent& event) {
                             if (event.type >= kCGEventTapDisabledByTimeout) {
                                 switchedOff.push_back(event.type);
                                 tap->enable(true);
                                 return TapDecision::Pass;
                             }
                             heard.push_back(event);
                             return (event.event->data1 >> 16) == 0 ? TapDecision::Swallow
                                                                    : TapDecision::Pass;
                         });
    ASSERT_TRUE(machine.until([&] { return taps.keysTakenElsewhere().has_value(); }));
    EXPECT_THAT(taps.keysTakenElsewhere()->german, ::testing::HasSubstr(firstPid));
    EXPECT_THAT(taps.path().why, ::testing::HasSubstr(firstPid + ", another program of this user"));
#ifdef VARNU_PROBE_PATH
    std::string said;
    FILE* probe =
        ::popen((VARNU_PROBE_PATH " --socket " + devices.socketPath() + " keys").c_str(), "r");
    ASSERT_NE(probe, nullptr);
    char line[512];
    while (std::fgets(line, sizeof line, probe)) {
        said += line;
    }
    ::pclose(probe);
    EXPECT_THAT(said, ::testing::HasSubstr(firstPid + ", a program of this user, and asks it"));
    EXPECT_THAT(said, ::testing::HasSubstr("keys can be caught: yes"));
#endif
    // It goes: Varnu is served.
    first.reset();
    ASSERT_TRUE(machine.until([&] { return !taps.keysTakenElsewhere() && held(); }));
    consumer.type(KEY_VOLUMEUP);
    consumer.type(KEY_VOLUMEDOWN);
    ASSERT_TRUE(machine.until([&] { return machine.keysOf(kConsumer).size() == 2; }));
    EXPECT_THAT(machine.keysOf(kConsumer),
                ElementsAre(Key{KEY_VOLUMEDOWN, 1}, Key{KEY_VOLUMEDOWN, 0}));
    EXPECT_EQ(heard.size(), 3u);

    // The service dies: the kernel takes its grabs and clones along, Varnu hears the tap went
    // off and asks again once a new service is there.
    EXPECT_EQ(WTERMSIG(devices.stopService(SIGKILL)), SIGKILL);
    ASSERT_TRUE(machine.until([&] { return letGo() && !switchedOff.empty(); }, kBound))
        << laptop.isGrabbed() << consumer.isGrabbed() << bool(machine.clone(kLaptop))
        << bool(machine.clone(kConsumer)) << switchedOff.size();
    EXPECT_EQ(switchedOff[0], kCGEventTapDisabledByUserInput);
    ASSERT_TRUE(devices.startService());
    ASSERT_TRUE(machine.until([&] { return held(); }));
    consumer.type(KEY_VOLUMEUP);
    ASSERT_TRUE(machine.until([&] { return heard.size() == 5; }));
    EXPECT_TRUE(machine.keysOf(kConsumer).empty());
    tap.reset();
    ASSERT_TRUE(machine.until([&] { return letGo(); }, kBound));
}

} // namespace
} // namespace varnu::bed
