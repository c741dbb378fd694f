#pragma once

// What happens to each event of the grabbed keyboards: re-emitted unchanged, or, for a volume
// key, handed to the main thread, which may swallow it.
// Implements: the per-key decision (a press, its repeats and its release share the answer the
// press got), per-device order (events behind an undecided press wait with it, everything behind
// the first one at most until its bound, however many presses follow it; other devices flow
// on), the fallback that passes a press the main thread has not decided in time and then tells
// the core the tap was disabled by timeout, as it does when the main thread has answered slowly
// several times in a row, the modifier flags from every keyboard, and
// the repeats of a swallowed volume key: never for mute, and made here at the device's rate for
// devices whose kernel driver does not repeat.
// Does not implement: reading or writing devices; it runs on the reader thread and is driven
// with events and the current time.

#include "platform/EventTap.h"
#include "platform/linux/input/KeyDecision.h"
#include "platform/linux/input/ModifierTracker.h"
#include "platform/linux/input/VolumeKeyEvents.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace varnu::linux_backend {

// Where a grabbed device's events go on: its uinput clone.
class KeyEventSink {
public:
    virtual ~KeyEventSink() = default;
    virtual void emit(InputDeviceId device, const InputEvent& event) = 0;
};

// The way to the tap callback on the main thread.
class TapCallbackChannel {
public:
    virtual ~TapCallbackChannel() = default;
    // Hands a press to the callback, whose answer is awaited for `within` and comes back through
    // the decision.
    virtual std::shared_ptr<KeyDecision> ask(const TappedEvent& event,
                                             std::chrono::milliseconds within) = 0;
    // Hands an event to the callback without waiting for, or using, its answer.
    virtual void tell(const TappedEvent& event) = 0;
};

// The delay before a held key repeats and the time between repeats.
struct RepeatRate {
    std::chrono::milliseconds delay{600};
    std::chrono::milliseconds period{40};
};

class VolumeKeyFilter {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kDecisionTimeout{250};
    // Answers that took this long, this many times in a row, count as no answer.
    static constexpr std::chrono::milliseconds kSlowAnswer = kDecisionTimeout / 2;
    static constexpr int kSlowAnswersInARow = 3;

    // Without system-defined events in the tap's mask, volume keys pass without asking.
    VolumeKeyFilter(KeyEventSink& sink, TapCallbackChannel& callback, bool deliversSystemDefined);
    // Gives up every press still waiting for the main thread.
    ~VolumeKeyFilter();

    VolumeKeyFilter(const VolumeKeyFilter&) = delete;
    VolumeKeyFilter& operator=(const VolumeKeyFilter&) = delete;

    // Any thread. While disabled, presses pass without asking; keys already swallowed stay so.
    void setEnabled(bool enabled) { enabled_ = enabled; }
    bool isEnabled() const { return enabled_; }

    // An event of a grabbed device.
    void handle(InputDeviceId device, const InputEvent& event, Clock::time_point now);
    // An event of a keyboard that is read but not grabbed: only its modifiers count.
    void observe(InputDeviceId device, const InputEvent& event);
    // The device's modifiers are exactly those among its held keys (after opening it, or after
    // events were dropped).
    void resetModifiers(InputDeviceId device, std::span<const std::uint16_t> heldKeys);
    // The device's kernel driver does not repeat held keys: the filter repeats its swallowed
    // volume keys at this rate.
    void repeatHeldKeys(InputDeviceId device, RepeatRate rate);
    // The device is gone: its waiting events, decisions and modifiers with it.
    void removeDevice(InputDeviceId device);

    // Goes on with the presses the main thread has decided and those whose time is up.
    void settle(Clock::time_point now);
    // When settle() must run next even if nothing wakes the reader.
    std::optional<Clock::time_point> nextDeadline() const;
    // Whether the device's events are held behind an undecided press.
    bool isWaiting(InputDeviceId device) const;

private:
    struct Undecided {
        InputEvent press;
        std::shared_ptr<KeyDecision> decision;
        Clock::time_point asked;
        // The bound of the first undecided press of the device, for every one behind it too.
        Clock::time_point deadline;
    };
    struct HeldKey {
        InputDeviceId device;
        std::uint16_t code;
        Clock::time_point nextRepeat;
    };
    struct Device {
        std::optional<Undecided> undecided;
        std::deque<InputEvent> behind;
    };

    void process(InputDeviceId device, Device& state, const InputEvent& event,
                 Clock::time_point now, Clock::time_point deadline);
    void processVolumeKey(InputDeviceId device, Device& state, const InputEvent& event,
                          Clock::time_point now, Clock::time_point deadline);
    // Like a tap the system switched off: later presses pass at once until the core enables
    // the tap again in answer to the notification.
    void switchOff();
    // Applies the decision to the waiting press and runs the events behind it.
    void conclude(InputDeviceId device, Device& state, TapDecision decision, Clock::time_point now);
    bool asksCallback() const { return deliversSystemDefined_ && enabled_; }
    void tellCore(std::uint16_t code, std::int32_t value);
    void repeatHeldKeys(Clock::time_point now);

    KeyEventSink& sink_;
    TapCallbackChannel& callback_;
    bool deliversSystemDefined_;
    std::atomic<bool> enabled_{true};
    int slowAnswers_ = 0;
    ModifierTracker modifiers_;
    std::map<InputDeviceId, Device> devices_;
    // The answer each held volume key got at its press.
    std::map<std::pair<InputDeviceId, std::uint16_t>, TapDecision> keyDecisions_;
    std::map<InputDeviceId, RepeatRate> softRepeat_;
    std::vector<HeldKey> held_;
};

} // namespace varnu::linux_backend
