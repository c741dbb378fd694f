#pragma once

// The keyboards the device service holds for its served client: the tap's own device
// lifecycle, reader thread and key filter, with the client's socket in place of the main
// thread.
// Implements: holding the keyboards exactly while a client is served (a client served after
// none takes them; none served lets go of every grab and clone at once), asking that client,
// and two signals for the server: the client left a question unanswered, the reader stopped.
// Does not implement: anything of a device or a key (TapDevices, TapReader, VolumeKeyFilter),
// choosing the client (DevicesServer).

#include "platform/linux/devices-link/DevicesProtocol.h"

#include <chrono>
#include <memory>
#include <string>

namespace varnu::linux_backend {
class OnceReporter;
class TapDevices;
class TapReader;
} // namespace varnu::linux_backend

namespace varnu::linux_backend::devices {

class KeyQuestions;
class HoldGate;

struct HoldSettings {
    std::string uinput = "/dev/uinput";
    std::chrono::milliseconds grabRetryInterval{3000};
    std::chrono::milliseconds cloneAnnounceLimit{2000};
};

class KeyboardHold {
public:
    // Null when udev or an eventfd cannot be had. Holds nothing until a client is served.
    static std::unique_ptr<KeyboardHold> start(const HoldSettings& settings,
                                               OnceReporter& reporter);
    // Lets go of every keyboard.
    ~KeyboardHold();
    KeyboardHold(const KeyboardHold&) = delete;
    KeyboardHold& operator=(const KeyboardHold&) = delete;

    // Server thread: hold the keyboards for the client on this socket, or for nobody (-1).
    void serve(int fd);
    // Server thread: the served client's answer.
    void answer(const Answer& answer);

    // Readable when the served client failed to answer or the reader stopped.
    int signalFd() const { return signalFd_; }
    struct Signals {
        int notAnswering = -1; // the socket of the served client that left a question unanswered
        bool readerStopped = false;
    };
    // After signalFd() was readable.
    Signals takeSignals();

private:
    KeyboardHold() = default;

    int signalFd_ = -1;
    std::shared_ptr<HoldGate> gate_;
    std::unique_ptr<TapReader> reader_;
    std::unique_ptr<KeyQuestions> questions_;
    std::unique_ptr<TapDevices> devices_;
};

} // namespace varnu::linux_backend::devices
