#include "platform/linux/PulseAudioHardware.h"

#include "tests/platform/linux/PulseDaemon.h"
#include "tests/platform/linux/PumpedMainQueue.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::NullSink;
using testing::PulseDaemon;
using testing::PumpedMainQueue;

constexpr auto kWait = 10s;
constexpr AudioObjectPropertyAddress kDevices{kAudioHardwarePropertyDevices};
constexpr AudioObjectPropertyAddress kDefaultOutput{kAudioHardwarePropertyDefaultOutputDevice};
constexpr AudioObjectPropertyAddress kDefaultSystemOutput{
    kAudioHardwarePropertyDefaultSystemOutputDevice};
constexpr AudioObjectPropertyAddress kUID{kAudioDevicePropertyDeviceUID};
constexpr AudioObjectPropertyAddress kName{kAudioObjectPropertyName};
constexpr AudioObjectPropertyAddress kOutputLayout{kAudioDevicePropertyStreamConfiguration,
                                                   kAudioObjectPropertyScopeOutput};
constexpr AudioObjectPropertyAddress kVolume{kAudioDevicePropertyVolumeScalar,
                                             kAudioObjectPropertyScopeOutput, 0};

const NullSink kDesk{"varnu_desk", "Desk Speakers"};
const NullSink kScreen{"varnu_screen", "Screen Audio"};

// Counts a listener's calls and whether each came on the pumping thread.
struct ListenerProbe {
    int calls = 0;
    bool offMainThread = false;
    std::thread::id mainThread = std::this_thread::get_id();

    std::function<void()> listener() {
        return [this] {
            ++calls;
            if (std::this_thread::get_id() != mainThread) {
                offMainThread = true;
            }
        };
    }
};

AudioObjectIDList devices(AudioHardware& hardware) {
    AudioPropertyData data;
    if (hardware.getPropertyData(kAudioObjectSystemObject, kDevices, data) !=
        kAudioHardwareNoError) {
        return {};
    }
    return std::get<AudioObjectIDList>(data);
}

std::string text(AudioHardware& hardware, AudioObjectID id, const AudioObjectPropertyAddress& a) {
    AudioPropertyData data;
    if (hardware.getPropertyData(id, a, data) != kAudioHardwareNoError) {
        return "<error>";
    }
    return std::get<std::string>(data);
}

AudioObjectID defaultOutput(AudioHardware& hardware,
                            const AudioObjectPropertyAddress& address = kDefaultOutput) {
    AudioPropertyData data;
    hardware.getPropertyData(kAudioObjectSystemObject, address, data);
    const auto* id = std::get_if<AudioObjectID>(&data);
    return id ? *id : kAudioObjectUnknown;
}

AudioObjectID idForUID(AudioHardware& hardware, const std::string& uid) {
    for (auto id : devices(hardware)) {
        if (text(hardware, id, kUID) == uid) {
            return id;
        }
    }
    return kAudioObjectUnknown;
}

std::string serverDefaultSink(const PulseDaemon& daemon) {
    std::string output;
    daemon.pactl({"get-default-sink"}, &output);
    output.erase(output.find_last_not_of("\r\n") + 1);
    return output;
}

class PulseAudioHardwareTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PulseDaemon::binary() || !PulseDaemon::controlBinary()) {
            GTEST_SKIP() << "pulseaudio or pactl is not installed; install the pulseaudio "
                            "package (it brings pulseaudio-utils) to run these tests against a "
                            "real audio server";
        }
    }

    std::unique_ptr<PulseAudioHardware> connect(const PulseDaemon& daemon) {
        return std::make_unique<PulseAudioHardware>(
            queue, PulseAudioOptions{daemon.server(), std::chrono::milliseconds(200)});
    }

    std::shared_ptr<PumpedMainQueue> queue = std::make_shared<PumpedMainQueue>();
};

TEST_F(PulseAudioHardwareTest, ListsSinksWithStableIdsUIDsNamesAndLayoutAndFollowsTheList) {
    PulseDaemon daemon;
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    auto hardware = connect(daemon);
    ListenerProbe listChanges;
    ASSERT_EQ(
        hardware->addPropertyListener(kAudioObjectSystemObject, kDevices, listChanges.listener()),
        kAudioHardwareNoError);
    EXPECT_TRUE(devices(*hardware).empty()) << "nothing is known before the server answered";

    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).size() == 2; }, kWait));
    EXPECT_TRUE(hardware->isConnected());
    EXPECT_GE(listChanges.calls, 1);
    EXPECT_FALSE(listChanges.offMainThread);

    std::uint32_t size = 0;
    ASSERT_EQ(hardware->getPropertyDataSize(kAudioObjectSystemObject, kDevices, size),
              kAudioHardwareNoError);
    EXPECT_EQ(size, 2 * kAudioObjectIDSize);
    const auto ids = devices(*hardware);
    for (auto id : ids) {
        EXPECT_NE(id, kAudioObjectUnknown);
        EXPECT_NE(id, kAudioObjectSystemObject);
    }
    EXPECT_NE(ids[0], ids[1]);
    // The server's order.
    EXPECT_EQ(text(*hardware, ids[0], kUID), "varnu_desk");
    EXPECT_EQ(text(*hardware, ids[0], kName), "Desk Speakers");
    EXPECT_EQ(text(*hardware, ids[1], kUID), "varnu_screen");
    EXPECT_EQ(text(*hardware, ids[1], kName), "Screen Audio");
    ASSERT_EQ(hardware->getPropertyDataSize(ids[0], kUID, size), kAudioHardwareNoError);
    EXPECT_EQ(size, kAudioStringReferenceSize);

    ASSERT_EQ(hardware->getPropertyDataSize(ids[0], kOutputLayout, size), kAudioHardwareNoError);
    EXPECT_EQ(size, kAudioBufferListHeaderSize + kAudioBufferSize);
    AudioPropertyData layout;
    ASSERT_EQ(hardware->getPropertyData(ids[0], kOutputLayout, layout), kAudioHardwareNoError);
    EXPECT_EQ(std::get<AudioBufferList>(layout), AudioBufferList{{2}});
    AudioPropertyData inputLayout;
    hardware->getPropertyData(
        ids[0], {kAudioDevicePropertyStreamConfiguration, fourCharCode("inpt")}, inputLayout);
    EXPECT_EQ(std::get<AudioBufferList>(inputLayout), AudioBufferList{});

    // A null sink has no port, so it is no display-audio output: its own volume is the one.
    bool settable = false;
    EXPECT_TRUE(hardware->hasProperty(ids[0], kVolume));
    EXPECT_EQ(hardware->isPropertySettable(ids[0], kVolume, settable), kAudioHardwareNoError);
    EXPECT_TRUE(settable);
    EXPECT_FALSE(hardware->hasProperty(
        ids[0], {kAudioDevicePropertyVolumeScalar, kAudioObjectPropertyScopeOutput, 1}));

    const AudioObjectID gone = std::max(ids[0], ids[1]) + 100;
    AudioPropertyData unused;
    EXPECT_EQ(hardware->getPropertyData(gone, kUID, unused), kAudioHardwareBadObjectError);
    EXPECT_FALSE(hardware->hasProperty(gone, kVolume));
    EXPECT_EQ(hardware->isPropertySettable(gone, kVolume, settable), kAudioHardwareBadObjectError);
    EXPECT_FALSE(settable);

    // A sink that comes, goes and comes back keeps its id; the others keep theirs.
    std::string moduleIndex;
    const int callsBefore = listChanges.calls;
    ASSERT_TRUE(
        daemon.pactl({"load-module", "module-null-sink", "sink_name=varnu_usb"}, &moduleIndex));
    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).size() == 3; }, kWait));
    EXPECT_GT(listChanges.calls, callsBefore);
    const AudioObjectID usb = idForUID(*hardware, "varnu_usb");
    EXPECT_EQ(std::count(ids.begin(), ids.end(), usb), 0);
    EXPECT_EQ(devices(*hardware)[0], ids[0]);
    EXPECT_EQ(devices(*hardware)[1], ids[1]);

    moduleIndex.erase(moduleIndex.find_last_not_of("\r\n") + 1);
    ASSERT_TRUE(daemon.pactl({"unload-module", moduleIndex}));
    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).size() == 2; }, kWait));
    EXPECT_EQ(devices(*hardware), ids);
    EXPECT_EQ(hardware->getPropertyData(usb, kUID, unused), kAudioHardwareBadObjectError);

    ASSERT_TRUE(daemon.pactl({"load-module", "module-null-sink", "sink_name=varnu_usb"}));
    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).size() == 3; }, kWait));
    EXPECT_EQ(idForUID(*hardware, "varnu_usb"), usb);
    EXPECT_FALSE(listChanges.offMainThread);
}

TEST_F(PulseAudioHardwareTest, ReadsAndSetsTheDefaultOutputAndHearsOfOutsideChanges) {
    PulseDaemon daemon;
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    auto hardware = connect(daemon);
    ListenerProbe defaultChanges;
    ListenerProbe listChanges;
    hardware->addPropertyListener(kAudioObjectSystemObject, kDefaultOutput,
                                  defaultChanges.listener());
    hardware->addPropertyListener(kAudioObjectSystemObject, kDevices, listChanges.listener());
    ASSERT_TRUE(queue->pumpUntil([&] { return defaultOutput(*hardware) != 0; }, kWait));

    const AudioObjectID desk = idForUID(*hardware, "varnu_desk");
    const AudioObjectID screen = idForUID(*hardware, "varnu_screen");
    const std::string initial = serverDefaultSink(daemon);
    ASSERT_EQ(text(*hardware, defaultOutput(*hardware), kUID), initial);
    EXPECT_EQ(defaultOutput(*hardware, kDefaultSystemOutput), defaultOutput(*hardware));
    std::uint32_t size = 0;
    ASSERT_EQ(hardware->getPropertyDataSize(kAudioObjectSystemObject, kDefaultOutput, size),
              kAudioHardwareNoError);
    EXPECT_EQ(size, kAudioObjectIDSize);
    bool settable = false;
    EXPECT_EQ(hardware->isPropertySettable(kAudioObjectSystemObject, kDefaultOutput, settable),
              kAudioHardwareNoError);
    EXPECT_TRUE(settable);

    const AudioObjectID first = defaultOutput(*hardware);
    const AudioObjectID second = first == desk ? screen : desk;
    const std::string secondName = text(*hardware, second, kUID);
    queue->pumpFor(100ms);

    // Someone else switches the output.
    int before = defaultChanges.calls;
    ASSERT_TRUE(daemon.pactl({"set-default-sink", secondName}));
    ASSERT_TRUE(queue->pumpUntil([&] { return defaultChanges.calls == before + 1; }, kWait));
    EXPECT_EQ(defaultOutput(*hardware), second);

    // Our own write: the next read sees it at once, before the server has answered.
    before = defaultChanges.calls;
    ASSERT_EQ(hardware->setPropertyData(kAudioObjectSystemObject, kDefaultOutput, first),
              kAudioHardwareNoError);
    EXPECT_EQ(defaultOutput(*hardware), first);
    EXPECT_EQ(defaultChanges.calls, before) << "listeners never run inside the write";
    ASSERT_TRUE(queue->pumpUntil([&] { return serverDefaultSink(daemon) == initial; }, kWait));
    queue->pumpFor(300ms);
    EXPECT_EQ(defaultOutput(*hardware), first);
    EXPECT_EQ(defaultChanges.calls, before + 1) << "one change, one notification";

    // There is no separate system-sounds device: the write succeeds and changes nothing.
    const int listCalls = listChanges.calls;
    EXPECT_EQ(hardware->setPropertyData(kAudioObjectSystemObject, kDefaultSystemOutput, second),
              kAudioHardwareNoError);
    queue->pumpFor(200ms);
    EXPECT_EQ(defaultOutput(*hardware), first);
    EXPECT_EQ(serverDefaultSink(daemon), initial);
    EXPECT_EQ(defaultChanges.calls, before + 1);
    EXPECT_EQ(listChanges.calls, listCalls);

    // A device that is not there is refused and changes nothing.
    EXPECT_NE(hardware->setPropertyData(kAudioObjectSystemObject, kDefaultOutput,
                                        std::max(desk, screen) + 100),
              kAudioHardwareNoError);
    EXPECT_EQ(defaultOutput(*hardware), first);

    // An outside change already on its way to the main thread when the core writes: the older
    // picture must not undo the write, not even for a moment.
    ASSERT_TRUE(daemon.pactl({"set-default-sink", secondName}));
    std::this_thread::sleep_for(300ms); // not pumping: the older picture waits in the queue
    before = defaultChanges.calls;
    std::vector<AudioObjectID> seen;
    hardware->addPropertyListener(kAudioObjectSystemObject, kDefaultOutput,
                                  [&] { seen.push_back(defaultOutput(*hardware)); });
    ASSERT_EQ(hardware->setPropertyData(kAudioObjectSystemObject, kDefaultOutput, first),
              kAudioHardwareNoError);
    ASSERT_TRUE(queue->pumpUntil([&] { return serverDefaultSink(daemon) == initial; }, kWait));
    queue->pumpFor(300ms);
    EXPECT_EQ(defaultOutput(*hardware), first);
    EXPECT_TRUE(std::all_of(seen.begin(), seen.end(), [&](auto id) { return id == first; }));
    EXPECT_EQ(defaultChanges.calls, before) << "the default never changed as the core saw it";
    EXPECT_FALSE(defaultChanges.offMainThread);
}

TEST_F(PulseAudioHardwareTest, EmptiesWhileTheServerIsGoneAndReconnectsWhenItIsBack) {
    PulseDaemon daemon;
    ASSERT_TRUE(daemon.start({kDesk, kScreen})) << daemon.log();
    auto hardware = connect(daemon);
    ListenerProbe listChanges;
    ListenerProbe defaultChanges;
    hardware->addPropertyListener(kAudioObjectSystemObject, kDevices, listChanges.listener());
    hardware->addPropertyListener(kAudioObjectSystemObject, kDefaultOutput,
                                  defaultChanges.listener());
    ASSERT_TRUE(queue->pumpUntil(
        [&] { return devices(*hardware).size() == 2 && defaultOutput(*hardware) != 0; }, kWait));
    const AudioObjectID desk = idForUID(*hardware, "varnu_desk");
    const AudioObjectID screen = idForUID(*hardware, "varnu_screen");

    daemon.kill();
    int listCalls = listChanges.calls;
    int defaultCalls = defaultChanges.calls;
    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).empty(); }, kWait));
    EXPECT_FALSE(hardware->isConnected());
    EXPECT_EQ(defaultOutput(*hardware), kAudioObjectUnknown);
    EXPECT_GT(listChanges.calls, listCalls);
    EXPECT_GT(defaultChanges.calls, defaultCalls);
    // Writes while no server answers are refused.
    EXPECT_NE(hardware->setPropertyData(kAudioObjectSystemObject, kDefaultOutput, desk),
              kAudioHardwareNoError);

    // Stays empty, without busy work, while nobody answers.
    queue->pumpFor(500ms);
    EXPECT_TRUE(devices(*hardware).empty());

    listCalls = listChanges.calls;
    defaultCalls = defaultChanges.calls;
    ASSERT_TRUE(daemon.start({kDesk, {"varnu_dock", "Dock"}})) << daemon.log();
    ASSERT_TRUE(queue->pumpUntil(
        [&] { return devices(*hardware).size() == 2 && defaultOutput(*hardware) != 0; }, kWait));
    EXPECT_TRUE(hardware->isConnected());
    EXPECT_GT(listChanges.calls, listCalls);
    EXPECT_GT(defaultChanges.calls, defaultCalls);
    EXPECT_EQ(idForUID(*hardware, "varnu_desk"), desk) << "same sink, same id across reconnects";
    const AudioObjectID dock = idForUID(*hardware, "varnu_dock");
    EXPECT_NE(dock, kAudioObjectUnknown);
    EXPECT_NE(dock, desk);
    EXPECT_NE(dock, screen) << "an id never moves to another sink";
    EXPECT_EQ(text(*hardware, defaultOutput(*hardware), kUID), serverDefaultSink(daemon));
    EXPECT_FALSE(listChanges.offMainThread);
    EXPECT_FALSE(defaultChanges.offMainThread);
}

TEST_F(PulseAudioHardwareTest, StartsEmptyWithoutAServerAndConnectsWhenOneAppears) {
    PulseDaemon daemon;
    auto hardware = connect(daemon);
    ListenerProbe listChanges;
    hardware->addPropertyListener(kAudioObjectSystemObject, kDevices, listChanges.listener());
    queue->pumpFor(300ms);
    EXPECT_TRUE(devices(*hardware).empty());
    EXPECT_FALSE(hardware->isConnected());
    EXPECT_EQ(listChanges.calls, 0);

    ASSERT_TRUE(daemon.start({kDesk})) << daemon.log();
    ASSERT_TRUE(queue->pumpUntil([&] { return devices(*hardware).size() == 1; }, kWait));
    EXPECT_EQ(listChanges.calls, 1);
}

} // namespace
} // namespace varnu::linux_backend
