#pragma once

// The thread that reads the keyboards of one tap: it polls the devices, their clones, udev and
// the login session, and hands each to TapDevices; nothing it does waits on another thread.
// Implements: the poll loop with its deadlines, waking it from any thread, coming back at once
// for the events a device had left over from its share of the last round, following udev
// events, reading and grabbing nothing while the login session is not the active one, letting
// go of every device when the loop ends or fails.
// Does not implement: what happens to a device or an event (TapDevices, VolumeKeyFilter).

#include "platform/linux/input/LoginSession.h"
#include "platform/linux/input/TapDevices.h"

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

struct udev;
struct udev_monitor;

namespace varnu::linux_backend {

class TapReader {
public:
    // Null when udev or an eventfd cannot be had.
    static std::unique_ptr<TapReader> create(std::unique_ptr<LoginSession> session,
                                             OnceReporter& reporter);
    // Stops the thread, if any.
    ~TapReader();
    TapReader(const TapReader&) = delete;
    TapReader& operator=(const TapReader&) = delete;

    // Runs the loop on a thread of its own until the reader is destroyed. A loop that fails
    // lets go of every device and calls onFailure on its thread; start() may then run it again.
    void start(TapDevices& devices, std::function<void()> onFailure);
    bool failed() const { return failed_; }
    // Any thread: makes the loop look at its devices and deadlines again.
    void wake();

private:
    TapReader(std::unique_ptr<LoginSession> session, OnceReporter& reporter)
        : session_(std::move(session))
        , reporter_(reporter) {}
    void run(TapDevices& devices, const std::function<void()>& onFailure);
    // False when the loop cannot go on.
    bool poll(TapDevices& devices);
    void receiveHotplug(TapDevices& devices);
    void followSession(TapDevices& devices);

    std::unique_ptr<LoginSession> session_;
    OnceReporter& reporter_;
    int wakeFd_ = -1;
    udev* udev_ = nullptr;
    udev_monitor* monitor_ = nullptr;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> failed_{false};
    // The thread's own.
    bool sessionActive_ = true;
    std::thread thread_;
};

} // namespace varnu::linux_backend
