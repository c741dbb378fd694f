#pragma once

// Catching keyboard events before the rest of the system sees them, with the right to swallow
// them. The tap's callback runs on the main thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace varnu {

using CGEventType = std::uint32_t;
using CGEventMask = std::uint64_t;

constexpr CGEventType kCGEventSystemDefined = 14;
constexpr CGEventType kCGEventTapDisabledByTimeout = 0xFFFFFFFE;
constexpr CGEventType kCGEventTapDisabledByUserInput = 0xFFFFFFFF;

constexpr std::uint32_t kCGSessionEventTap = 1;
constexpr std::uint32_t kCGHeadInsertEventTap = 0;
constexpr std::uint32_t kCGEventTapOptionDefault = 0;

constexpr CGEventMask eventMaskBit(CGEventType type) {
    return CGEventMask{1} << type;
}

// The four properties the key rules read from a system-defined event.
struct SystemDefinedEvent {
    std::int64_t type = 0;
    std::int64_t subtype = 0;
    std::int64_t data1 = 0;
    std::uint64_t modifierFlags = 0;
    friend bool operator==(const SystemDefinedEvent&, const SystemDefinedEvent&) = default;
};

// What the tap hands its callback: the event's type and, when an event object could be made
// from it, the event's properties.
struct TappedEvent {
    CGEventType type = 0;
    std::optional<SystemDefinedEvent> event;
};

enum class TapDecision { Pass, Swallow };

using EventTapCallback = std::function<TapDecision(const TappedEvent& event)>;

class EventTap {
public:
    virtual ~EventTap() = default;
    virtual void enable(bool enabled) = 0;
};

// A text for the user in each language of the interface.
struct LocalizedText {
    std::string english;
    std::string german;
    friend bool operator==(const LocalizedText&, const LocalizedText&) = default;
};

class EventTapService {
public:
    virtual ~EventTapService() = default;
    // Whether the process may tap keyboard events. With prompt set and no permission, the
    // system asks the user (once); it never blocks.
    virtual bool isProcessTrusted(bool prompt) = 0;
    // Null when the tap cannot be created. The tap starts enabled and delivers only the event
    // types in the mask, plus the two disable notifications.
    virtual std::unique_ptr<EventTap> createTap(std::uint32_t location, std::uint32_t placement,
                                                std::uint32_t options, CGEventMask eventsOfInterest,
                                                EventTapCallback callback) = 0;
    // While the process may not tap: what keeps it from doing so and what the user can do, for
    // the settings window. Nothing where the platform's own permission wording says it all.
    virtual std::optional<LocalizedText> missingAccessAdvice() { return std::nullopt; }
    // While the process taps: what else on the system gives the user the same devices, which
    // the settings window should not hide behind "active". Nothing where there is nothing.
    virtual std::optional<LocalizedText> sharedAccessNotice() { return std::nullopt; }
    // While a tap exists: when the keys go to another program instead (one that asked first
    // where the platform serves one program at a time), who gets them and what the user can
    // do, for the menu and the settings window.
    virtual std::optional<LocalizedText> keysTakenElsewhere() { return std::nullopt; }
};

} // namespace varnu
