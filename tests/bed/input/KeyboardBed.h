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
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
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

// Text written on one thread and read on another: what the tap reports from its reader thread.
class SharedText final : public std::streambuf {
public:
    std::string text() const;

protected:
    int_type overflow(int_type character) override;
    std::streamsize xsputn(const char* text, std::streamsize size) override;

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// A login session the test switches, as logind would on fast user switching. Copies (one for
// each tap) share it.
class SwitchableSession final : public linux_backend::LoginSession {
public:
    bool isActive() override { return state_->active; }
    int changeFd() const override { return state_->fd; }
    void acknowledgeChange() override;
    void setActive(bool active);
    // Also told of each switch (the device service's seat, when the tap goes through it).
    void whenSwitched(std::function<void(bool active)> hook) { state_->onSwitch = std::move(hook); }

private:
    struct State {
        std::atomic<bool> active{true};
        int fd;
        std::function<void(bool active)> onSwitch;
        State();
        ~State();
    };
    std::shared_ptr<State> state_ = std::make_shared<State>();
};

struct BedTapSettings {
    std::chrono::milliseconds grabRetryInterval;
    std::chrono::milliseconds cloneAnnounceLimit;
};

class KeyboardBed;

// The tap under test, made in process (InProcessTap.cpp) or through the device service
// (tests/bed/devices/TapThroughService.cpp); each program that uses the bed links one of the two.
// What the tap reports goes to the stream.
std::unique_ptr<EventTap> makeBedTap(KeyboardBed& machine, std::ostream& diagnostics,
                                     const BedTapSettings& settings, EventTapCallback callback);
bool bedTapGoesThroughService();

class KeyboardBed {
public:
    KeyboardBed();
    ~KeyboardBed();

    EmulatedEvdevDevice& plug(EvdevDescription description, bool announce = false);
    // The core's answer to volume keys; Pass unless set.
    std::function<TapDecision(const TappedEvent&)> decide;
    // A tap as Varnu makes one; another beside the first is a second running Varnu.
    std::unique_ptr<EventTap>
    createTap(std::chrono::milliseconds grabRetryInterval = std::chrono::milliseconds(3000),
              std::chrono::milliseconds cloneAnnounceLimit = std::chrono::milliseconds(2000));
    template <typename... Limits>
    void startTap(Limits... limits) {
        tap = createTap(limits...);
    }
    void stopTap() { tap.reset(); }

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
    SwitchableSession session;
    std::unique_ptr<EventTap> tap;
    // What the core heard, on the main thread.
    std::vector<TappedEvent> heard;
    std::vector<CGEventType> switchedOff;
    // What the tap reported on its error stream.
    std::string said() const { return said_.text(); }

private:
    SharedText said_;
    std::ostream diagnostics_{&said_};
    std::vector<std::unique_ptr<EmulatedEvdevDevice>> devices_;
    int nextNumber_ = 1;
};

} // namespace varnu::bed
