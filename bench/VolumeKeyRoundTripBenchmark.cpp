// A volume key's question to the main thread and its answer back to the thread that holds the
// keyboards: through the device service's socket (the service's KeyQuestions, Varnu's keys'
// connection read on its main queue, ServiceKeyTap, and the answer read and matched on the
// service's side), against the in-process tap's hand-over (MainQueueCallbackChannel). Both main
// threads answer at once, so what is measured is the way there and back.

#include "bench/LatencySamples.h"
#include "platform/PumpedMainQueue.h"
#include "platform/linux/ServiceKeyTap.h"
#include "platform/linux/devices-link/DevicesConnection.h"
#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/KeyQuestions.h"
#include "platform/linux/devices-service/VolumeKeyStrokes.h"
#include "platform/linux/input/MainQueueCallbackChannel.h"

#include <atomic>
#include <cstdlib>
#include <poll.h>
#include <string>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <benchmark/benchmark.h>

namespace {

using namespace varnu;
using namespace varnu::linux_backend;
using namespace varnu::linux_backend::devices;
using Clock = bench::LatencySamples::Clock;

const TappedEvent kVolumeUp{kCGEventSystemDefined,
                            eventOf({VolumeKey::Up, KeyAction::Press, kShiftHeld})};
constexpr std::chrono::milliseconds kWithin{250};

// A main thread that pumps its queue until the benchmark ends.
class MainThread {
public:
    MainThread()
        : thread_([this] {
            queue->pumpUntil([this] { return stopping_.load(); }, std::chrono::hours(1));
        }) {}
    ~MainThread() {
        stopping_ = true;
        queue->async([] {});
        thread_.join();
    }
    std::shared_ptr<PumpedMainQueue> queue = std::make_shared<PumpedMainQueue>();

private:
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

// Waits on the eventfd the answer wakes, as the reader thread polls its wake descriptor.
void waitForWake(int wakeFd) {
    pollfd woken{wakeFd, POLLIN, 0};
    ::poll(&woken, 1, -1);
    std::uint64_t count = 0;
    [[maybe_unused]] auto got = ::read(wakeFd, &count, sizeof count);
}

void BM_VolumeKeyRoundTripThroughTheService(benchmark::State& state) {
    char folder[] = "/tmp/varnu-bench-XXXXXX";
    const std::string path = std::string(::mkdtemp(folder)) + "/devices.socket";
    auto address = socketAddress(path);
    int listener = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    ::bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof *address);
    ::listen(listener, 1);

    MainThread mainThread;
    auto connection = DevicesConnection::open(path, {}, mainThread.queue);
    int client = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    Packet packet;
    receivePacket(client, packet); // the Hello, which has come by the time it is accepted
    sendPacket(client, encode(Welcome{}));
    sendPacket(client, encode(Standing{}));
    connection->waitForGreeting(std::chrono::seconds(5));
    ServiceKeyTap tap(connection, mainThread.queue,
                      [](const TappedEvent&) { return TapDecision::Swallow; });

    int wakeFd = ::eventfd(0, EFD_CLOEXEC);
    KeyQuestions questions(
        [wakeFd] {
            std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
        },
        [] {});
    questions.serve(client);
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        const auto asked = Clock::now();
        auto decision = questions.ask(kVolumeUp, kWithin);
        // The service's main thread: the answer comes in and is matched to its question.
        for (bool answered = false; !answered;) {
            pollfd readable{client, POLLIN, 0};
            ::poll(&readable, 1, -1);
            while (receivePacket(client, packet) == Received::Packet) {
                auto message = parseClientMessage(packet.view());
                if (auto* answer = message ? std::get_if<Answer>(&*message) : nullptr) {
                    answered = questions.answer(*answer) || answered;
                }
            }
        }
        waitForWake(wakeFd);
        samples.add(Clock::now() - asked);
        benchmark::DoNotOptimize(decision->result());
    }
    questions.serve(-1);
    ::close(wakeFd);
    ::close(client);
    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(folder);
}
BENCHMARK(BM_VolumeKeyRoundTripThroughTheService)->UseManualTime()->Iterations(2000);

void BM_VolumeKeyDecisionInProcess(benchmark::State& state) {
    MainThread mainThread;
    int wakeFd = ::eventfd(0, EFD_CLOEXEC);
    MainQueueCallbackChannel channel(
        mainThread.queue, [](const TappedEvent&) { return TapDecision::Swallow; },
        [wakeFd] {
            std::uint64_t one = 1;
            [[maybe_unused]] auto written = ::write(wakeFd, &one, sizeof one);
        });
    bench::LatencySamples samples(state);
    for (auto _ : state) {
        const auto asked = Clock::now();
        auto decision = channel.ask(kVolumeUp, kWithin);
        waitForWake(wakeFd);
        samples.add(Clock::now() - asked);
        benchmark::DoNotOptimize(decision->result());
    }
    channel.close();
    ::close(wakeFd);
}
BENCHMARK(BM_VolumeKeyDecisionInProcess)->UseManualTime()->Iterations(2000);

} // namespace
