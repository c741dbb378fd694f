// The service's questions to its served client, from the reader thread, with the answers and
// the change of client on the server's thread: what goes on the socket, what each decision
// becomes, and which client is found not answering.

#include "platform/linux/devices-service/KeyQuestions.h"

#include "platform/linux/devices-link/PacketSocket.h"
#include "platform/linux/devices-service/VolumeKeyStrokes.h"

#include <atomic>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend::devices {
namespace {

const KeyStroke kUp{VolumeKey::Up, KeyAction::Press, kControlHeld};
constexpr std::chrono::milliseconds kWithin{120};

// A client's socket pair: the service's end and the client's.
struct Client {
    Client() { ::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, ends); }
    ~Client() {
        ::close(ends[0]);
        ::close(ends[1]);
    }
    std::optional<ServiceMessage> heard() {
        Packet packet;
        return receivePacket(ends[1], packet) == Received::Packet
                   ? parseServiceMessage(packet.view())
                   : std::nullopt;
    }
    int ends[2] = {-1, -1};
};

// Runs on a thread of its own, as the reader does.
std::shared_ptr<KeyDecision> askFromReader(KeyQuestions& questions, const TappedEvent& event) {
    std::shared_ptr<KeyDecision> decision;
    std::thread([&] { decision = questions.ask(event, kWithin); }).join();
    return decision;
}

TEST(KeyQuestions, AsksOnlyTheServedClientAboutVolumeKeysAndPassesWhatItCannotAsk) {
    std::atomic<int> wakes{0};
    std::atomic<int> failures{0};
    KeyQuestions questions([&] { ++wakes; }, [&] { ++failures; });
    Client first;
    Client second;
    const TappedEvent up{kCGEventSystemDefined, eventOf(kUp)};

    // Nobody served: passed at once, nothing sent.
    EXPECT_EQ(askFromReader(questions, up)->result(), TapDecision::Pass);

    questions.serve(first.ends[0]);
    auto kept = askFromReader(questions, up);
    auto asked = first.heard();
    ASSERT_TRUE(asked && std::holds_alternative<Question>(*asked));
    EXPECT_EQ(std::get<Question>(*asked).stroke, kUp);
    EXPECT_EQ(std::get<Question>(*asked).answerWithinMs, kWithin.count());
    EXPECT_FALSE(kept->result());
    EXPECT_TRUE(questions.answer({std::get<Question>(*asked).id, true}));
    EXPECT_EQ(kept->result(), TapDecision::Swallow);
    EXPECT_FALSE(questions.answer({std::get<Question>(*asked).id, true}));

    // Any other event is neither asked nor told.
    auto other = SystemDefinedEvent{kCGEventSystemDefined, 8, 0x100A00, 0};
    EXPECT_EQ(askFromReader(questions, {kCGEventSystemDefined, other})->result(),
              TapDecision::Pass);
    EXPECT_FALSE(first.heard());

    // A question open when the client changes is passed, and the reader woken for it.
    auto open = askFromReader(questions, up);
    ASSERT_TRUE(first.heard());
    auto wakesBefore = wakes.load();
    questions.serve(second.ends[0]);
    EXPECT_EQ(open->result(), TapDecision::Pass);
    EXPECT_GT(wakes.load(), wakesBefore);

    // A timeout is told to the client, and that client is the one not answering.
    std::thread([&] { questions.tell({kCGEventTapDisabledByTimeout, std::nullopt}); }).join();
    EXPECT_EQ(second.heard(), ServiceMessage{TapSwitchedOff{SwitchOffCause::Timeout}});
    EXPECT_EQ(failures.load(), 1);
    EXPECT_EQ(questions.takeNotAnswering(), second.ends[0]);
    EXPECT_EQ(questions.takeNotAnswering(), -1);

    // A client whose socket takes nothing more cannot be asked: the key passes.
    ::shutdown(second.ends[1], SHUT_RD);
    EXPECT_EQ(askFromReader(questions, up)->result(), TapDecision::Pass);
    EXPECT_EQ(failures.load(), 2);
    questions.serve(-1);
    EXPECT_EQ(questions.takeNotAnswering(), -1);
}

} // namespace
} // namespace varnu::linux_backend::devices
