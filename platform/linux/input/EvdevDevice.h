#pragma once

// One input device as the volume-key tap holds it: read through libevdev, and once it is
// grabbed, mirrored by a uinput clone. Deliberately thin: every decision lives elsewhere.
// Implements: open, read with SYN_DROPPED resynchronisation and the kernel's time stamps, the
// clone (with the device's name, phys, ids and properties), the grab and its release, the
// kernel's key state and repeat, writing to the clone, LED changes from the clone back to the
// device.
// Does not implement: choosing devices (EvdevCapabilities) or events (VolumeKeyFilter).

#include "platform/linux/input/EvdevCapabilities.h"
#include "platform/linux/input/VolumeKeyEvents.h"
#include "platform/linux/input/VolumeKeyFilter.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <time.h>

struct libevdev;
struct libevdev_uinput;

namespace varnu::linux_backend {

class EvdevDevice {
public:
    // Null, with the errno, when the device cannot be opened or read.
    static std::unique_ptr<EvdevDevice> open(const std::string& node, int& error);
    // Releases the grab and removes the clone.
    ~EvdevDevice();

    EvdevDevice(const EvdevDevice&) = delete;
    EvdevDevice& operator=(const EvdevDevice&) = delete;

    const std::string& node() const { return node_; }
    std::string name() const;
    const libevdev* evdev() const { return evdev_; }
    int fd() const { return fd_; }
    // The clone's descriptor, where LED changes arrive; -1 without a clone.
    int cloneFd() const;

    // A moment on the clock the kernel stamps this device's events with.
    using Stamp = std::chrono::microseconds;
    Stamp now() const;

    // More: the reader stopped with events still waiting, in libevdev or in the kernel.
    enum class ReadResult { Drained, More, Gone };
    // Hands the events that are ready to the reader with their stamps until none is left or the
    // reader answers false; after dropped events, the changes that bring libevdev's state up to
    // date, as ordinary events, all of them.
    ReadResult readEvents(const std::function<bool(const InputEvent&, Stamp)>& reader);

    // Whether the kernel repeats held keys of this device itself; the rate it reports, if any.
    bool repeatsInKernel() const { return repeatsInKernel_; }
    std::optional<RepeatRate> reportedRepeat() const { return reportedRepeat_; }

    // 0 or the errno. The clone is known by its sysfs path, never by its name.
    int createClone(const std::string& uinputPath);
    const std::string& cloneSyspath() const { return cloneSyspath_; }
    void removeClone();
    int grab();
    void ungrab();
    // The keys held down right now, asked of the kernel rather than of the events read so far;
    // nullopt when the device does not answer.
    std::optional<KeyStateBits> keyState() const;

    void emit(const InputEvent& event);
    // Passes the LED changes written to the clone on to the device.
    void forwardLeds();

private:
    EvdevDevice(std::string node, int fd, libevdev* evdev);

    std::string node_;
    int fd_;
    libevdev* evdev_;
    libevdev_uinput* clone_ = nullptr;
    int uinputFd_ = -1;
    std::string cloneSyspath_;
    bool grabbed_ = false;
    clockid_t clock_ = CLOCK_REALTIME;
    bool repeatsInKernel_ = false;
    std::optional<RepeatRate> reportedRepeat_;
};

} // namespace varnu::linux_backend
