#pragma once

// A private PulseAudio server for one test: PulseAudio's daemon, or PipeWire with its session
// manager and pulse server. Headless, without a session bus, in a temporary folder of its own
// (runtime dir, home, configuration, socket, logs), with null sinks as its outputs. It is
// stopped when the object goes, and killed by the kernel if the test process dies first.

#include "tests/platform/linux/TempDir.h"

#include <csignal>
#include <string>
#include <sys/types.h>
#include <vector>

namespace varnu::linux_backend::testing {

enum class PulseServer { PulseAudio, PipeWire };

std::string serverName(PulseServer server);

struct NullSink {
    std::string name;
    std::string description;
};

class PulseDaemon {
public:
    explicit PulseDaemon(PulseServer server)
        : kind_(server) {}
    ~PulseDaemon() { stop(); }

    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    // Whether the server's programs and pactl are installed.
    static bool available(PulseServer server);

    // Starts the server with these outputs and waits until it lists them and has chosen a
    // default; only then does the socket at server() answer.
    bool start(const std::vector<NullSink>& sinks);
    // SIGKILL plays a crash.
    void stop(int signalNumber = SIGTERM);
    // PipeWire's session manager stops acting (or acts again); false for PulseAudio, which has
    // none.
    bool holdSessionManager(bool held);

    // The server string for libpulse.
    std::string server() const { return "unix:" + (dir_.path() / "native").string(); }
    // Runs pactl (arguments split by the shell) against this server; true when it succeeds.
    bool pactl(const std::string& arguments, std::string* output = nullptr) const;
    // Every process's log.
    std::string log() const;

private:
    bool spawn(const std::string& program, const std::string& log);
    bool running();
    bool ready(const std::vector<NullSink>& sinks) const;
    std::filesystem::path socket() const;
    std::string environment() const;
    void writePipeWireConfiguration(const std::vector<NullSink>& sinks) const;

    PulseServer kind_;
    TempDir dir_;
    std::vector<pid_t> pids_;
    pid_t sessionManager_ = -1;
};

} // namespace varnu::linux_backend::testing
