#pragma once

// The rules that turn one system-defined event into a volume action, and the job that carries
// the action to the monitor.

#include "ddc/DDCMonitor.h"
#include "platform/EventTap.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace varnu {

constexpr std::int64_t kNSEventTypeSystemDefined = 14;
constexpr std::int64_t kNXSubtypeAuxControlButtons = 8;
constexpr std::int64_t kKeyTypeSoundUp = 0;
constexpr std::int64_t kKeyTypeSoundDown = 1;
constexpr std::int64_t kKeyTypeMute = 7;
constexpr std::int64_t kKeyStateDown = 0x0A;
constexpr std::int64_t kKeyStateUp = 0x0B;

constexpr std::uint64_t kEventModifierFlagShift = 0x20000;
constexpr std::uint64_t kEventModifierFlagControl = 0x40000;
constexpr std::uint64_t kEventModifierFlagOption = 0x80000;
constexpr std::uint64_t kEventModifierFlagCommand = 0x100000;

constexpr std::int64_t kMinimumLevel = 0;
constexpr std::int64_t kMaximumLevel = 100;
constexpr std::int64_t kFineStep = 1;

// The key code (sound up, sound down or mute) of a volume-key event, or nothing.
std::optional<std::int64_t> volumeKeyCode(const SystemDefinedEvent& event);

bool isKeyDown(std::int64_t data1);

// Shift and Option together give the fine step; otherwise the setting, whatever it holds.
std::int64_t chooseStep(std::uint64_t modifierFlags, std::int64_t stepSetting);

struct VolumeState {
    std::int64_t level = 0;
    bool muted = false;
    friend bool operator==(const VolumeState&, const VolumeState&) = default;
};

// A volume key as the rules take it: which key, and the step chosen when it was pressed.
struct VolumeKeyPress {
    std::int64_t keyCode = 0;
    std::int64_t step = 0;
};

// Sound up gives the smaller of level + step and 100, sound down the larger of level - step and 0,
// both clearing the mute state; mute inverts it. The step may be any integer the setting holds:
// the sum and difference saturate instead of overflowing, and a negative step moves the level
// the other way, bounded only by the limit in the key's own direction. The write job clamps what
// reaches the monitor either way.
VolumeState applyKey(std::int64_t keyCode, std::int64_t step, VolumeState state);

// One Set VCP Feature that a key press asks of the monitor.
struct VCPWrite {
    std::uint8_t code = 0;
    std::uint16_t value = 0;
    // Left out when the level write before it was refused.
    bool needsLevelAccepted = false;
    friend bool operator==(const VCPWrite&, const VCPWrite&) = default;
};

// What one key press sends to the monitor, from copies taken when the key is handled: the
// monitor's own overlay hidden first when asked; then the mute state for the mute key, or else
// the level, clamped for the wire, and the unmute unless muted.
std::vector<VCPWrite> monitorWrites(bool hideMonitorOSD, std::int64_t keyCode, bool muted,
                                    std::int64_t level);

// Runs on the "ddc" queue: the writes in their order.
void sendMonitorWrites(DDCMonitor& monitor, std::span<const VCPWrite> writes);

} // namespace varnu
