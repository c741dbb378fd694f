#pragma once

#include "audio/AudioOutput.h"
#include "platform/EventTap.h"
#include "platform/UserDefaults.h"
#include "settings/ChangePublisher.h"
#include "settings/SettingsKeys.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnu {

// The settings shared between the application and its settings window: four preferences it
// loads once and stores on every assignment, seven values the application fills in for display,
// and five callbacks through which the window asks the application to act. Main thread only.
class SettingsModel {
public:
    explicit SettingsModel(std::shared_ptr<UserDefaults> defaults);

    SettingsModel(const SettingsModel&) = delete;
    SettingsModel& operator=(const SettingsModel&) = delete;

    const std::vector<AudioOutput>& devices() const { return devices_; }
    void setDevices(std::vector<AudioOutput> devices);
    const std::string& selectedUID() const { return selectedUID_; }
    void setSelectedUID(std::string uid);
    bool autostart() const { return autostart_; }
    void setAutostart(bool enabled);
    bool accessibilityOK() const { return accessibilityOK_; }
    void setAccessibilityOK(bool granted);
    // Set by the platform while access is missing, when it has more to say than the default.
    const std::optional<LocalizedText>& accessAdvice() const { return accessAdvice_; }
    void setAccessAdvice(std::optional<LocalizedText> advice);
    const std::string& controlInfo() const { return controlInfo_; }
    void setControlInfo(std::string text);
    std::int64_t step() const { return step_; }
    void setStep(std::int64_t step);
    bool showHUD() const { return showHUD_; }
    void setShowHUD(bool show);
    bool hideMonitorOSD() const { return hideMonitorOSD_; }
    void setHideMonitorOSD(bool hide);
    const std::string& osdInfo() const { return osdInfo_; }
    void setOSDInfo(std::string text);
    const std::string& language() const { return language_; }
    void setLanguage(std::string language);

    // Fires before every assignment to any of the eleven values.
    ChangePublisher objectWillChange;

    std::function<void()> onHideOSD = [] {};
    std::function<void()> onLanguage = [] {};
    std::function<void(const std::string& uid)> onSelect = [](const std::string&) {};
    std::function<void(bool enabled)> onAutostart = [](bool) {};
    std::function<void()> onOpenAccessibility = [] {};

private:
    std::shared_ptr<UserDefaults> defaults_;
    std::vector<AudioOutput> devices_;
    std::string selectedUID_;
    bool autostart_ = false;
    bool accessibilityOK_ = false;
    std::optional<LocalizedText> accessAdvice_;
    std::string controlInfo_;
    std::int64_t step_ = kDefaultStep;
    bool showHUD_ = kDefaultShowHUD;
    bool hideMonitorOSD_ = kDefaultHideMonitorOSD;
    std::string osdInfo_;
    std::string language_ = kDefaultLanguage;
};

} // namespace varnu
