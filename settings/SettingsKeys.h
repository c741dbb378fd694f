#pragma once

// Every key Varnu keeps in the user-defaults store, with its type and default.
//
// key                  type     default      written by            read by
// "selectedDeviceUID"  text     no choice    choosing an output    re-applying it; first-run test
// "volume.<UID>"       integer  50           each handled key      loading the output's level
// "step"               integer  6            its setter            model construction
// "showHUD"            Boolean  true         its setter            model construction
// "hideMonitorOSD"     Boolean  true         its setter            model construction
// "language"           text     "auto"       its setter            model construction; Lang, always
// "hiddenOverlays"     text     none         hiding or giving      the next start, to give back
//                      (one identity a line) back an overlay       what a crash left hidden

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
constexpr std::string_view kHiddenOverlaysKey = "hiddenOverlays";

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
