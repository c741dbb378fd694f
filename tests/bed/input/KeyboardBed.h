#pragma once

// The keyboards of real machines on the umockdev bed, and the real EvdevEventTap reading them
// with a core stand-in on a pumped main queue.

#include "platform/PumpedMainQueue.h"
#include "platform/linux/input/EvdevEventTap.h"
#include "platform/linux/input/LoginSession.h"
#include "tests/bed/UmockdevBed.h"
#include "tests/bed/input/EmulatedEvdevDevice.h"
#include "tests/bed/input/EmulatedUinput.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <sstream>
#include <vector>

namespace varnu::bed {

EvdevDescription laptopKeyboard();
EvdevDescription usbKeyboard();
EvdevDescription usbConsumerControl();
EvdevDescription hotkeysWithTabletSwitch();
// A wireless receiver's node with its mouse and media keys on one node.
EvdevDescription mouseWithVolumeKeys();
// A living-room keyboard whose touchpad reports as a relative pointer on the keyboard's node.
EvdevDescription keyboardWithTouchpad();
// A touchpad with volume buttons: positional axes, left alone.
EvdevDescription touchpadWithVolumeKeys();

// A login session the test switches, as logind would on fast user switching.
class SwitchableSession final : public linux_backend::LoginSession {
public:
    SwitchableSession();
    ~SwitchableSession() override;
    bool isActive() override { return active_; }
    int changeFd() const override { return fd_; }
    void acknowledgeChange() override;
    void setActive(bool active);

private:
    std::atomic<bool> active_{true};
    int fd_;
};

class KeyboardBed {
public:
    KeyboardBed();
    ~KeyboardBed();

    EmulatedEvdevDevice& plug(EvdevDescription description, bool announce = false);
    // The core's answer to volume keys; Pass unless set.
    std::function<TapDecision(const TappedEvent&)> decide;
    void startTap(std::chrono::milliseconds grabRetryInterval = std::chrono::milliseconds(3000),
                  std::chrono::milliseconds cloneAnnounceLimit = std::chrono::milliseconds(2000));
    // A second tap beside the first, as in a second running Varnu.
    std::unique_ptr<EventTap> startAnotherTap();
    void stopTap();

    // Pumps the main queue until the condition holds; false after the limit.
    bool until(const std::function<bool()>& condition,
               std::chrono::milliseconds limit = std::chrono::milliseconds(10000));
    void pumpFor(std::chrono::milliseconds duration);

    // The live clone named so, if any.
    std::optional<VirtualDevice> clone(const std::string& name) const;
    // The key events a live clone re-emitted, as (code, value).
    std::vector<std::pair<std::uint16_t, std::int32_t>> keysOf(const std::string& name) const;
    int clonesNamed(const std::string& name) const;

    std::unique_ptr<UmockdevBed> bed = std::make_unique<UmockdevBed>();
    EmulatedUinput uinput{*bed, 100};
    std::shared_ptr<PumpedMainQueue> mainQueue = std::make_shared<PumpedMainQueue>();
    std::shared_ptr<SwitchableSession> session = std::make_shared<SwitchableSession>();
    std::ostringstream diagnostics;
    std::unique_ptr<EventTap> tap;
    // What the core heard, on the main thread.
    std::vector<TappedEvent> heard;
    std::vector<CGEventType> switchedOff;

private:
    std::unique_ptr<EventTap> createTap(std::chrono::milliseconds grabRetryInterval,
                                        std::chrono::milliseconds cloneAnnounceLimit);

    std::vector<std::unique_ptr<EmulatedEvdevDevice>> devices_;
    int nextNumber_ = 1;
};

} // namespace varnu::bed
