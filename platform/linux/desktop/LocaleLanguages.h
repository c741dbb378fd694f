#pragma once

// The preferred-language list from the POSIX locale environment.
// Implements: $LANGUAGE (colon-separated, in order), else the first set one of $LC_ALL,
// $LC_MESSAGES and $LANG; "de_DE.UTF-8" becomes "de-DE"; "C" and "POSIX" count as no entry.
// Does not implement: the desktop's own language settings (GNOME, KDE) or the
// org.freedesktop.locale1 service; script modifiers ("sr_RS@latin") are dropped, not mapped.

#include "platform/PreferredLanguages.h"
#include "platform/linux/files/XdgEnvironment.h"

#include <string>
#include <string_view>
#include <vector>

namespace varnu::linux_backend {

// "de_DE.UTF-8" → "de-DE", "en_US@euro" → "en-US"; empty for "C", "POSIX" and empty names.
std::string languageTagFromLocaleName(std::string_view localeName);

// The list the environment gives, most preferred first.
std::vector<std::string> preferredLanguagesFromEnvironment(const Environment& environment);

class LocaleLanguages final : public PreferredLanguages {
public:
    explicit LocaleLanguages(Environment environment = processEnvironment());

    std::vector<std::string> preferredLanguages() override;

private:
    Environment environment_;
};

} // namespace varnu::linux_backend
