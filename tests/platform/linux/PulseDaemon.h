#pragma once

// A private PulseAudio daemon for one test: headless, in a temporary folder of its own (runtime
// dir, home, socket, log), with null sinks as its outputs. It is stopped by its pid when the
// fixture goes, and killed by the kernel if the test process dies first.

#include <filesystem>
#include <optional>
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
    // The daemon binary found in PATH, or nothing.
    static std::optional<std::filesystem::path> binary();
    // pactl, which the tests use to change the server behind the backend's back.
    static std::optional<std::filesystem::path> controlBinary();

    PulseDaemon();
    ~PulseDaemon();

    PulseDaemon(const PulseDaemon&) = delete;
    PulseDaemon& operator=(const PulseDaemon&) = delete;

    // Starts the daemon with these outputs and waits until its socket answers.
    bool start(const std::vector<NullSink>& sinks);
    // SIGTERM, then waits for the process (SIGKILL if it lingers).
    void stop();
    // SIGKILL, as a crash would.
    void kill();
    bool running() const { return pid_ > 0; }

    // The server string for libpulse: "unix:<socket>".
    std::string server() const;
    // Runs pactl against this daemon; true when it exits with status 0.
    bool pactl(const std::vector<std::string>& arguments, std::string* output = nullptr) const;
    // What the daemon wrote, for failure messages.
    std::string log() const;

private:
    void reap(int signalNumber);

    std::filesystem::path root_;
    pid_t pid_ = -1;
};

} // namespace varnu::linux_backend::testing
