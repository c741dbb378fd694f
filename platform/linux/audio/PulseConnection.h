#pragma once

// The connection to a PulseAudio server (PulseAudio itself, or PipeWire's pulse server) on
// libpulse's threaded main loop.
// Implements: connecting, and trying a fresh context every reconnect interval while no server
// answers; a working copy of the server's sinks, cards and default sink, filled at connect and
// kept current from subscription events; posting a copy of every complete, changed picture to
// the main queue for the mirror; the default-sink write, with its grace period.
// Does not implement: what the picture means to the core (AudioDeviceMirror, SinkClassification).
//
// Everything but construction, destruction and setDefaultSink runs on the libpulse thread; the
// members are touched there, or under the main loop's lock.

#include "platform/Dispatch.h"
#include "platform/linux/audio/AudioDeviceMirror.h"
#include "platform/linux/audio/DefaultSinkWrites.h"

#include <chrono>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>

struct pa_context;
struct pa_mainloop_api;
struct pa_operation;
struct pa_threaded_mainloop;
struct pa_time_event;

namespace varnu::linux_backend {

struct PulseAudioOptions {
    // The server to use, e.g. "unix:/run/user/1000/pulse/native"; empty for libpulse's own
    // lookup ($PULSE_SERVER, client.conf, the session's socket).
    std::string server = {};
    // The wait between connection attempts while no server answers.
    std::chrono::milliseconds reconnectInterval{1000};
    // Where an unreachable server is reported, once per outage; null keeps quiet.
    std::ostream* diagnostics = &std::cerr;
};

class PulseConnection {
public:
    // Starts the thread and the first connection attempt.
    PulseConnection(std::shared_ptr<MainQueue> mainQueue, std::weak_ptr<AudioDeviceMirror> mirror,
                    PulseAudioOptions options);
    // Stops the thread; pictures already posted find the mirror or nothing.
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    // Main thread. Sends the request and answers true when a ready connection took it.
    bool setDefaultSink(const std::string& sinkName, std::uint64_t write);

private:
    void connect();
    void dropContext();
    void forgetServer();
    void settled();
    void armWriteGrace();
    void scheduleRetry();
    void reportUnreachable();
    void report(const std::string& text);
    void track(pa_operation* op);
    void requestServerInfo();
    void operationDone();
    void publish();
    void onReady();
    void onLost();

    // libpulse's callbacks, which reach the members above.
    struct Callbacks;
    friend struct Callbacks;

    std::shared_ptr<MainQueue> mainQueue_;
    std::weak_ptr<AudioDeviceMirror> mirror_;
    PulseAudioOptions options_;

    pa_threaded_mainloop* loop_ = nullptr;
    pa_mainloop_api* api_ = nullptr;
    pa_context* context_ = nullptr;
    pa_time_event* retry_ = nullptr;
    pa_time_event* writeGrace_ = nullptr;

    bool ready_ = false;
    int pending_ = 0;
    std::map<std::uint32_t, SinkRecord> sinks_; // by index: the server's order
    std::map<std::uint32_t, CardRecord> cards_;
    std::string defaultSink_;
    DefaultSinkWrites writes_;
    std::optional<ServerSnapshot> published_;
    bool reportedUnreachable_ = false;
};

} // namespace varnu::linux_backend
