#include "settings/Lang.h"

#include "settings/SettingsKeys.h"

#include <string>

namespace varnu::Lang {

namespace {
constexpr std::string_view kGerman = "de";
constexpr std::string_view kEnglish = "en";
} // namespace

bool isGerman(UserDefaults& defaults, PreferredLanguages& languages) {
    const auto setting = defaults.string(kLanguageKey);
    if (setting == kGerman) {
        return true;
    }
    if (setting == kEnglish) {
        return false;
    }
    // Anything else follows the system: only the language part of its first choice counts.
    const auto preferred = languages.preferredLanguages();
    const std::string system = preferred.empty() ? std::string(kEnglish) : preferred.front();
    return system.starts_with(kGerman);
}

} // namespace varnu::Lang
