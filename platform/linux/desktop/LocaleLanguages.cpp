#include "platform/linux/desktop/LocaleLanguages.h"

#include <algorithm>

namespace varnu::linux_backend {

std::string languageTagFromLocaleName(std::string_view localeName) {
    // language[_territory][.codeset][@modifier]
    const auto end = localeName.find_first_of(".@");
    std::string tag(localeName.substr(0, end));
    if (tag == "C" || tag == "POSIX") {
        return {};
    }
    std::replace(tag.begin(), tag.end(), '_', '-');
    return tag;
}

std::vector<std::string> preferredLanguagesFromEnvironment(const Environment& environment) {
    std::vector<std::string> languages;
    if (auto list = nonEmptyVariable(environment, "LANGUAGE")) {
        for (const auto& entry : splitList(*list, ':')) {
            if (auto tag = languageTagFromLocaleName(entry); !tag.empty()) {
                languages.push_back(std::move(tag));
            }
        }
    }
    if (!languages.empty()) {
        return languages;
    }
    // The first one set decides, as it does for the C library: LC_ALL=C means no language
    // even when LANG names one.
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        if (auto value = nonEmptyVariable(environment, name)) {
            if (auto tag = languageTagFromLocaleName(*value); !tag.empty()) {
                languages.push_back(std::move(tag));
            }
            break;
        }
    }
    return languages;
}

LocaleLanguages::LocaleLanguages(Environment environment)
    : environment_(std::move(environment)) {}

std::vector<std::string> LocaleLanguages::preferredLanguages() {
    return preferredLanguagesFromEnvironment(environment_);
}

} // namespace varnu::linux_backend
