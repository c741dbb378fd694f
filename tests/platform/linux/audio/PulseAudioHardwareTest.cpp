#include "platform/linux/audio/PulseAudioHardware.h"

#include "platform/PumpedMainQueue.h"
#include "tests/platform/linux/audio/PulseDaemon.h"

#include <algorithm>
#include <thread>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::PulseDaemon;
using testing::PulseServer;

constexpr auto kWait = 10s;
constexpr AudioObjectPropertyAddress kDevices{kAudioHardwarePropertyDevices};
constexpr AudioObjectPropertyAddress kDefault{kAudioHardwarePropertyDefaultOutputDevice};
constexpr AudioObjectPropertyAddress kUID{kAudioDevicePropertyDeviceUID};
constexpr AudioObjectPropertyAddress kName{kAudioObjectPropertyName};
constexpr AudioObjectPropertyAddress kVolume{kAudioDevicePropertyVolumeScalar,
                                             kAudioObjectPropertyScopeOutput, 0};
const testing::NullSink kDesk{"varnu_desk", "Desk Speakers"};
const testing::NullSink kScreen{"varnu_screen", "Screen Audio"};

// Counts a listener's calls and whether any came off the pumping thread.
struct Probe {
    int calls = 0;
    bool offMainThread = false;
    std::thread::id mainThread = std::this_thread::get_id();
    std::function<void()> listener() {
        return [this] {
            ++calls;
            offMainThread = offMainThread || std::this_thread::get_id() != mainThread;
        };
    }
};

class PulseAudioHardwareTest : public ::testing::TestWithParam<PulseServer> {
protected:
    void SetUp() override {
        if (!PulseDaemon::available(GetParam())) {
            GTEST_SKIP() << "install " << testing::serverName(GetParam())
                         << " (with pactl) to run these tests";
        }
        hardware.addPropertyListener(kAudioObjectSystemObject, kDevices, listChanges.listener());
        hardware.addPropertyListener(kAudioObjectSystemObject, kDefault, defaultChanges.listener());
    }
    void TearDown() override {
        EXPECT_FALSE(listChanges.offMainThread || defaultChanges.offMainThread);
    }

    template <typename T>
    T read(AudioObjectID id, const AudioObjectPropertyAddress& address) {
        AudioPropertyData data;
        hardware.getPropertyData(id, address, data);
        const auto* value = std::get_if<T>(&data);
        return value ? *value : T{};
    }
    AudioObjectIDList devices() {
        return read<AudioObjectIDList>(kAudioObjectSystemObject, kDevices);
    }
    std::string uid(AudioObjectID id) { return read<std::string>(id, kUID); }
    AudioObjectID defaultOutput(const AudioObjectPropertyAddress& address = kDefault) {
        return read<AudioObjectID>(kAudioObjectSystemObject, address);
    }
    AudioObjectID idForUID(const std::string& wanted) {
        const auto ids = devices();
        const auto found =
            std::find_if(ids.begin(), ids.end(), [&](auto id) { return uid(id) == wanted; });
        return found == ids.end() ? kAudioObjectUnknown : *found;
    }
    bool waitFor(const std::function<bool()>& condition) {
        return queue->pumpUntil(condition, kWait);
    }
    std::string serverDefault() {
        std::string sink;
        daemon.pactl("get-default-sink", &sink);
        return sink;
    }

    PulseDaemon daemon{GetParam()};
    std::shared_ptr<PumpedMainQueue> queue = std::make_shared<PumpedMainQueue>();
    PulseAudioHardware hardware{queue, PulseAudioOptions{daemon.server(), 200ms}};
    Probe listChanges, defaultChanges;
};

TEST_P(PulseAudioHardwareTest, ListsSinksWithTheirPropertiesAndKeepsEachSinksId) {
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    ASSERT_TRUE(waitFor([&] { return devices().size() == 2; }));
    EXPECT_TRUE(hardware.isConnected());
    EXPECT_GE(listChanges.calls, 1);
    std::uint32_t size = 0;
    ASSERT_EQ(hardware.getPropertyDataSize(kAudioObjectSystemObject, kDevices, size),
              kAudioHardwareNoError);
    EXPECT_EQ(size, 2 * kAudioObjectIDSize);
    const auto ids = devices();
    EXPECT_GT(std::min(ids[0], ids[1]), kAudioObjectSystemObject);
    EXPECT_NE(ids[0], ids[1]);
    // The server's order.
    EXPECT_EQ(uid(ids[0]), "varnu_desk");
    EXPECT_EQ(read<std::string>(ids[0], kName), "Desk Speakers");
    EXPECT_EQ(uid(ids[1]), "varnu_screen");
    EXPECT_EQ(read<std::string>(ids[1], kName), "Screen Audio");

    const AudioObjectPropertyAddress layout{kAudioDevicePropertyStreamConfiguration,
                                            kAudioObjectPropertyScopeOutput};
    ASSERT_EQ(hardware.getPropertyDataSize(ids[0], layout, size), kAudioHardwareNoError);
    EXPECT_EQ(size, kAudioBufferListHeaderSize + kAudioBufferSize);
    EXPECT_EQ(read<AudioBufferList>(ids[0], layout), AudioBufferList{{2}});

    // A null sink has no port, so it is no display-audio output: its own volume is the one.
    bool settable = false;
    EXPECT_TRUE(hardware.hasProperty(ids[0], kVolume));
    EXPECT_EQ(hardware.isPropertySettable(ids[0], kVolume, settable), kAudioHardwareNoError);
    EXPECT_TRUE(settable);
    EXPECT_FALSE(hardware.hasProperty(
        ids[0], {kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeOutput, 1}));

    const AudioObjectID gone = std::max(ids[0], ids[1]) + 100;
    AudioPropertyData unused;
    EXPECT_EQ(hardware.getPropertyData(gone, kUID, unused), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hardware.hasProperty(gone, kVolume));

    // A sink that comes and goes leaves the others their ids. Without ports, and with the
    // ALSA properties of an HDMI device that the kernel named after its monitor, it plays the
    // monitor's speakers.
    std::string module;
    const int callsBefore = listChanges.calls;
    ASSERT_TRUE(daemon.pactl("load-module module-null-sink sink_name=varnu_hdmi "
                             "'sink_properties=\"alsa.id=HDMI1 alsa.name=Monitor\"'",
                             &module));
    ASSERT_TRUE(waitFor([&] { return devices().size() == 3; }));
    EXPECT_GT(listChanges.calls, callsBefore);
    const AudioObjectID hdmi = idForUID("varnu_hdmi");
    EXPECT_EQ(devices(), (AudioObjectIDList{ids[0], ids[1], hdmi}));
    EXPECT_EQ(std::count(ids.begin(), ids.end(), hdmi), 0);
    EXPECT_EQ(read<std::string>(hdmi, kName), "Monitor");
    EXPECT_FALSE(hardware.hasProperty(hdmi, kVolume));

    ASSERT_TRUE(daemon.pactl("unload-module " + module));
    ASSERT_TRUE(waitFor([&] { return devices().size() == 2; }));
    EXPECT_EQ(devices(), ids);
    EXPECT_EQ(hardware.getPropertyData(hdmi, kUID, unused), kAudioHardwareBadObjectError);
}

TEST_P(PulseAudioHardwareTest, ReadsAndSetsTheDefaultOutputAndHearsOfOutsideChanges) {
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    ASSERT_TRUE(waitFor([&] { return defaultOutput() != 0; }));
    const std::string initial = serverDefault();
    const AudioObjectID first = defaultOutput();
    ASSERT_EQ(uid(first), initial);
    EXPECT_EQ(defaultOutput({kAudioHardwarePropertyDefaultSystemOutputDevice}), first);
    const std::string secondName = initial == "varnu_desk" ? "varnu_screen" : "varnu_desk";
    const AudioObjectID second = idForUID(secondName);
    queue->pumpFor(100ms);

    // Someone else switches the output.
    int before = defaultChanges.calls;
    ASSERT_TRUE(daemon.pactl("set-default-sink " + secondName));
    ASSERT_TRUE(waitFor([&] { return defaultChanges.calls == before + 1; }));
    EXPECT_EQ(defaultOutput(), second);

    // Our own write: the next read sees it at once, before the server has answered.
    before = defaultChanges.calls;
    ASSERT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefault, first),
              kAudioHardwareNoError);
    EXPECT_EQ(defaultOutput(), first);
    EXPECT_EQ(defaultChanges.calls, before) << "listeners never run inside the write";
    ASSERT_TRUE(waitFor([&] { return serverDefault() == initial; }));
    queue->pumpFor(300ms);
    EXPECT_EQ(defaultOutput(), first);
    EXPECT_EQ(defaultChanges.calls, before + 1) << "one change, one notification";

    // There is no separate system-sounds device: the write succeeds and changes nothing.
    const int listCalls = listChanges.calls;
    EXPECT_EQ(hardware.setPropertyData(kAudioObjectSystemObject,
                                       {kAudioHardwarePropertyDefaultSystemOutputDevice}, second),
              kAudioHardwareNoError);
    queue->pumpFor(200ms);
    EXPECT_EQ(defaultOutput(), first);
    EXPECT_EQ(serverDefault(), initial);
    EXPECT_EQ(defaultChanges.calls, before + 1);
    EXPECT_EQ(listChanges.calls, listCalls);

    // A device that is not there is refused and changes nothing.
    EXPECT_NE(
        hardware.setPropertyData(kAudioObjectSystemObject, kDefault, std::max(first, second) + 100),
        kAudioHardwareNoError);
    EXPECT_EQ(defaultOutput(), first);

    // An outside change already on its way to the main thread when the core writes: the older
    // picture must not undo the write, not even for a moment.
    ASSERT_TRUE(daemon.pactl("set-default-sink " + secondName));
    std::this_thread::sleep_for(300ms); // not pumping: the older picture waits in the queue
    before = defaultChanges.calls;
    std::vector<AudioObjectID> seen;
    hardware.addPropertyListener(kAudioObjectSystemObject, kDefault,
                                 [&] { seen.push_back(defaultOutput()); });
    ASSERT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefault, first),
              kAudioHardwareNoError);
    ASSERT_TRUE(waitFor([&] { return serverDefault() == initial; }));
    queue->pumpFor(300ms);
    EXPECT_EQ(defaultOutput(), first);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](auto id) { return id == first; }));
    EXPECT_EQ(defaultChanges.calls, before) << "the default never changed as the core saw it";
}

TEST_P(PulseAudioHardwareTest, AWriteTheServerDoesNotTakeUpGivesWayToTheServersDefault) {
    if (GetParam() != PulseServer::PipeWire) {
        GTEST_SKIP() << "PulseAudio applies a default write before it answers";
    }
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    ASSERT_TRUE(waitFor([&] { return defaultOutput() != 0; }));
    const AudioObjectID first = defaultOutput();
    const std::string secondName = uid(first) == "varnu_desk" ? "varnu_screen" : "varnu_desk";
    const AudioObjectID second = idForUID(secondName);
    queue->pumpFor(100ms);

    // The pulse server takes the wish, but its session manager does not get round to it.
    ASSERT_TRUE(daemon.holdSessionManager(true));
    const int before = defaultChanges.calls;
    ASSERT_EQ(hardware.setPropertyData(kAudioObjectSystemObject, kDefault, second),
              kAudioHardwareNoError);
    EXPECT_EQ(defaultOutput(), second);
    ASSERT_TRUE(waitFor([&] { return defaultOutput() == first; }));
    EXPECT_EQ(defaultChanges.calls, before + 2);
    ASSERT_TRUE(daemon.holdSessionManager(false));
}

TEST_P(PulseAudioHardwareTest, IsEmptyWhileNoServerAnswersAndConnectsWhenOneDoes) {
    queue->pumpFor(300ms);
    EXPECT_TRUE(devices().empty());
    EXPECT_FALSE(hardware.isConnected());
    EXPECT_EQ(listChanges.calls, 0);
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    ASSERT_TRUE(waitFor([&] { return devices().size() == 2 && defaultOutput() != 0; }));
    EXPECT_EQ(listChanges.calls, 1);
    const AudioObjectID desk = idForUID("varnu_desk");
    const AudioObjectID screen = idForUID("varnu_screen");

    daemon.stop(SIGKILL);
    int listCalls = listChanges.calls;
    int defaultCalls = defaultChanges.calls;
    ASSERT_TRUE(waitFor([&] { return devices().empty(); }));
    EXPECT_FALSE(hardware.isConnected());
    EXPECT_EQ(defaultOutput(), kAudioObjectUnknown);
    EXPECT_GT(listChanges.calls, listCalls);
    EXPECT_GT(defaultChanges.calls, defaultCalls);
    EXPECT_NE(hardware.setPropertyData(kAudioObjectSystemObject, kDefault, desk),
              kAudioHardwareNoError);

    listCalls = listChanges.calls;
    defaultCalls = defaultChanges.calls;
    ASSERT_TRUE(daemon.start({kDesk, {"varnu_dock", "Dock"}})) << daemon.log();
    ASSERT_TRUE(waitFor([&] { return devices().size() == 2 && defaultOutput() != 0; }));
    EXPECT_TRUE(hardware.isConnected());
    EXPECT_GT(listChanges.calls, listCalls);
    EXPECT_GT(defaultChanges.calls, defaultCalls);
    EXPECT_EQ(idForUID("varnu_desk"), desk) << "same sink, same id across reconnects";
    const AudioObjectID dock = idForUID("varnu_dock");
    EXPECT_NE(dock, kAudioObjectUnknown);
    EXPECT_NE(dock, desk);
    EXPECT_NE(dock, screen) << "an id never moves to another sink";
    EXPECT_EQ(uid(defaultOutput()), serverDefault());
}

INSTANTIATE_TEST_SUITE_P(Servers, PulseAudioHardwareTest,
                         ::testing::Values(PulseServer::PulseAudio, PulseServer::PipeWire),
                         [](const auto& info) { return testing::serverName(info.param); });

} // namespace
} // namespace varnu::linux_backend
