#pragma once

// Every key Varnu keeps in the user-defaults store, with its type and default.
//
//   key                  type      default       written by            read by
//   "selectedDeviceUID"  text      (no choice)   choosing an output    re-applying the output;
//   first-run test "volume.<UID>"       integer   50            each handled key-down loading an
//   output's level "step"               integer   6             the step setter       model
//   construction "showHUD"            Boolean   true          the overlay setter    model
//   construction "hideMonitorOSD"     Boolean   true          the monitor-overlay   model
//   construction
//                                                setter
//   "language"           text      "auto"        the language setter   model construction; the
//                                                                      language rule, every time

#include <cstdint>
#include <string>
#include <string_view>

namespace varnu {

constexpr std::string_view kSelectedDeviceUIDKey = "selectedDeviceUID";
constexpr std::string_view kVolumeKeyPrefix = "volume.";
constexpr std::string_view kStepKey = "step";
constexpr std::string_view kShowHUDKey = "showHUD";
constexpr std::string_view kHideMonitorOSDKey = "hideMonitorOSD";
constexpr std::string_view kLanguageKey = "language";

constexpr std::int64_t kDefaultVolume = 50;
constexpr std::int64_t kDefaultStep = 6;
constexpr bool kDefaultShowHUD = true;
constexpr bool kDefaultHideMonitorOSD = true;
constexpr const char* kDefaultLanguage = "auto";

inline std::string volumeKey(std::string_view uid) {
    std::string key(kVolumeKeyPrefix);
    key += uid;
    return key;
}

} // namespace varnu
