#include "settings/SettingsModel.h"

#include <utility>

namespace varnu {

namespace {

// A stored false or 0 counts; only a missing value or one of another type gives the default.
std::int64_t storedInteger(UserDefaults& defaults, std::string_view key, std::int64_t fallback) {
    if (auto value = defaults.object(key)) {
        return integerValue(*value).value_or(fallback);
    }
    return fallback;
}

bool storedBool(UserDefaults& defaults, std::string_view key, bool fallback) {
    if (auto value = defaults.object(key)) {
        return boolValue(*value).value_or(fallback);
    }
    return fallback;
}

void call(const std::function<void()>& callback) {
    if (callback) {
        callback();
    }
}

} // namespace

SettingsModel::SettingsModel(std::shared_ptr<UserDefaults> defaults)
    : defaults_(std::move(defaults))
    , step_(storedInteger(*defaults_, kStepKey, kDefaultStep))
    , showHUD_(storedBool(*defaults_, kShowHUDKey, kDefaultShowHUD))
    , hideMonitorOSD_(storedBool(*defaults_, kHideMonitorOSDKey, kDefaultHideMonitorOSD))
    , language_(defaults_->string(kLanguageKey).value_or(kDefaultLanguage)) {}

void SettingsModel::setDevices(std::vector<AudioOutput> devices) {
    objectWillChange.send();
    devices_ = std::move(devices);
}

void SettingsModel::setSelectedUID(std::string uid) {
    objectWillChange.send();
    selectedUID_ = std::move(uid);
}

void SettingsModel::setAutostart(bool enabled) {
    objectWillChange.send();
    autostart_ = enabled;
}

void SettingsModel::setAccessibilityOK(bool granted) {
    objectWillChange.send();
    accessibilityOK_ = granted;
}

void SettingsModel::setAccessAdvice(std::optional<LocalizedText> advice) {
    objectWillChange.send();
    accessAdvice_ = std::move(advice);
}

void SettingsModel::setControlInfo(std::string text) {
    objectWillChange.send();
    controlInfo_ = std::move(text);
}

// The preferences reach the store before any callback runs: the handlers read the new value
// back from there.
void SettingsModel::setStep(std::int64_t step) {
    objectWillChange.send();
    step_ = step;
    defaults_->setInteger(kStepKey, step_);
}

void SettingsModel::setShowHUD(bool show) {
    objectWillChange.send();
    showHUD_ = show;
    defaults_->setBool(kShowHUDKey, showHUD_);
}

void SettingsModel::setHideMonitorOSD(bool hide) {
    objectWillChange.send();
    hideMonitorOSD_ = hide;
    defaults_->setBool(kHideMonitorOSDKey, hideMonitorOSD_);
    call(onHideOSD);
}

void SettingsModel::setOSDInfo(std::string text) {
    objectWillChange.send();
    osdInfo_ = std::move(text);
}

void SettingsModel::setLanguage(std::string language) {
    objectWillChange.send();
    language_ = std::move(language);
    defaults_->setString(kLanguageKey, language_);
    call(onLanguage);
}

} // namespace varnu
