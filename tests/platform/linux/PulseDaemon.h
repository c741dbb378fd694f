#pragma once

// A private PulseAudio daemon for one test: headless, in a temporary folder of its own (runtime
// dir, home, socket, log), with null sinks as its outputs. It is stopped when the object goes,
// and killed by the kernel if the test process dies first.

#include "tests/platform/linux/TempDir.h"

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnu::linux_backend::testing {

struct NullSink {
    std::string name;
    std::string description;
};

class PulseDaemon {
public:
    // Whether pulseaudio and pactl are installed.
    static bool available();

    ~PulseDaemon() { stop(); }

    // Starts the daemon with these outputs and waits until it answers.
    bool start(const std::vector<NullSink>& sinks);
    // SIGKILL plays a crash.
    void stop(int signalNumber = SIGTERM);

    // The server string for libpulse.
    std::string server() const { return "unix:" + (dir_.path() / "native").string(); }
    // Runs pactl (arguments split by the shell) against this daemon; true when it succeeds.
    bool pactl(const std::string& arguments, std::string* output = nullptr) const;
    std::string log() const { return readText(dir_.path() / "daemon.log"); }

private:
    TempDir dir_;
    pid_t pid_ = -1;
};

} // namespace varnu::linux_backend::testing
