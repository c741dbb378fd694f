#include "app/VolumeKeys.h"

#include "ddc/VCP.h"

#include <algorithm>
#include <limits>

namespace varnu {

namespace {

constexpr std::uint64_t kData1MeaningfulBits = 0xFFFF'FFFF;
constexpr unsigned kKeyCodeShift = 16;
constexpr std::uint64_t kKeyStateMask = 0xFF00;
constexpr unsigned kKeyStateShift = 8;
constexpr std::uint64_t kFineStepModifiers = kEventModifierFlagShift | kEventModifierFlagOption;

constexpr std::int64_t kLargest = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kSmallest = std::numeric_limits<std::int64_t>::min();

std::uint64_t bits(std::int64_t data1) {
    return static_cast<std::uint64_t>(data1);
}

std::int64_t saturatingAdd(std::int64_t a, std::int64_t b) {
    if (b > 0 && a > kLargest - b) {
        return kLargest;
    }
    if (b < 0 && a < kSmallest - b) {
        return kSmallest;
    }
    return a + b;
}

std::int64_t saturatingSubtract(std::int64_t a, std::int64_t b) {
    if (b < 0 && a > kLargest + b) {
        return kLargest;
    }
    if (b > 0 && a < kSmallest + b) {
        return kSmallest;
    }
    return a - b;
}

} // namespace

std::optional<std::int64_t> volumeKeyCode(const SystemDefinedEvent& event) {
    if (event.type != kNSEventTypeSystemDefined || event.subtype != kNXSubtypeAuxControlButtons) {
        return std::nullopt;
    }
    const auto keyCode =
        static_cast<std::int64_t>((bits(event.data1) & kData1MeaningfulBits) >> kKeyCodeShift);
    if (keyCode == kKeyTypeSoundUp || keyCode == kKeyTypeSoundDown || keyCode == kKeyTypeMute) {
        return keyCode;
    }
    return std::nullopt;
}

bool isKeyDown(std::int64_t data1) {
    return static_cast<std::int64_t>((bits(data1) & kKeyStateMask) >> kKeyStateShift) ==
           kKeyStateDown;
}

std::int64_t chooseStep(std::uint64_t modifierFlags, std::int64_t stepSetting) {
    return (modifierFlags & kFineStepModifiers) == kFineStepModifiers ? kFineStep : stepSetting;
}

VolumeState applyKey(std::int64_t keyCode, std::int64_t step, VolumeState state) {
    switch (keyCode) {
    case kKeyTypeSoundUp:
        return {std::min(saturatingAdd(state.level, step), kMaximumLevel), false};
    case kKeyTypeSoundDown:
        return {std::max(saturatingSubtract(state.level, step), kMinimumLevel), false};
    case kKeyTypeMute:
        return {state.level, !state.muted};
    default:
        return state;
    }
}

std::vector<VCPWrite> monitorWrites(bool hideMonitorOSD, std::int64_t keyCode, bool muted,
                                    std::int64_t level) {
    std::vector<VCPWrite> writes;
    // Room for the most a press writes (overlay, level, unmute) up front: growing the vector one
    // write at a time makes GCC 12 at -O2 warn of a write past the end that cannot happen
    // (-Wstringop-overflow).
    writes.reserve(3);
    if (hideMonitorOSD) {
        writes.push_back({kVCPOSD, kOSDHidden});
    }
    if (keyCode == kKeyTypeMute) {
        writes.push_back({kVCPAudioMute, muted ? kAudioMuteOn : kAudioMuteOff});
        return writes;
    }
    writes.push_back({kVCPAudioSpeakerVolume,
                      static_cast<std::uint16_t>(std::clamp(level, kMinimumLevel, kMaximumLevel))});
    if (!muted) {
        writes.push_back({kVCPAudioMute, kAudioMuteOff, true});
    }
    return writes;
}

void sendMonitorWrites(DDCMonitor& monitor, std::span<const VCPWrite> writes) {
    bool levelRefused = false;
    for (const auto& write : writes) {
        if (write.needsLevelAccepted && levelRefused) {
            continue;
        }
        const bool accepted = monitor.write(write.code, write.value);
        if (write.code == kVCPAudioSpeakerVolume) {
            levelRefused = !accepted;
        }
    }
}

} // namespace varnu
