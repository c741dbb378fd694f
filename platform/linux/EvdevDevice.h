#pragma once

// One input device as the volume-key tap holds it: read through libevdev, and once it is
// grabbed, mirrored by a uinput clone. Deliberately thin: every decision lives elsewhere.
// Implements: open, read with SYN_DROPPED resynchronisation, the clone, the grab and its release,
// the kernel's key state, writing to the clone, LED changes from the clone back to the device.
// Does not implement: choosing devices (EvdevCapabilities) or events (VolumeKeyFilter).

#include "platform/linux/EvdevCapabilities.h"
#include "platform/linux/VolumeKeyEvents.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

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

    enum class ReadResult { Drained, Gone };
    // Hands every event that is ready to the reader; after dropped events, the changes that
    // bring libevdev's state up to date, as ordinary events.
    ReadResult readEvents(const std::function<void(const InputEvent&)>& reader);

    // 0 or the errno.
    int createClone(const std::string& uinputPath);
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
    bool grabbed_ = false;
};

} // namespace varnu::linux_backend
