#pragma once

// The key filter's way to the served client in the device service: each volume-key press is a
// question on the client's socket, each repeat or release of a kept key a notice.
// Implements: TapCallbackChannel over the socket of whichever client is served (none: every
// press passes at once), each question with the time its answer has; the answers matched to
// their questions; questions still open when the
// client changes are answered "pass", so the events behind them flow on; a press that cannot be
// asked, or a decision that timed out, tells the server the client is not answering.
// Does not implement: choosing the client, reading its socket (DevicesServer), the timeout
// (VolumeKeyFilter). Sends nothing but strokes of the three volume keys; logs nothing.

#include "platform/linux/devices-link/DevicesProtocol.h"
#include "platform/linux/input/VolumeKeyFilter.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

namespace varnu::linux_backend::devices {

class KeyQuestions final : public TapCallbackChannel {
public:
    // wakeReader runs after each answer; notAnswering when the client failed to answer (then
    // ask takeNotAnswering() which). Both may run on either thread, under the questions' lock.
    KeyQuestions(std::function<void()> wakeReader, std::function<void()> notAnswering);

    // Server thread: ask the client on this socket from now on, or nobody (-1). The socket stays
    // open at least until the next call.
    void serve(int fd);
    // Server thread: an answer of the served client. False for an id no open question has.
    bool answer(const Answer& answer);
    // Server thread: the socket of the served client that failed to answer since the last call
    // and is still served, or -1.
    int takeNotAnswering();

    // Reader thread.
    std::shared_ptr<KeyDecision> ask(const TappedEvent& event,
                                     std::chrono::milliseconds within) override;
    void tell(const TappedEvent& event) override;

private:
    void settleOpen();

    std::function<void()> wakeReader_;
    std::function<void()> notAnswering_;
    std::mutex mutex_;
    int fd_ = -1;
    int notAnsweringFd_ = -1;
    std::uint32_t nextId_ = 1;
    std::map<std::uint32_t, std::shared_ptr<KeyDecision>> open_;
};

} // namespace varnu::linux_backend::devices
