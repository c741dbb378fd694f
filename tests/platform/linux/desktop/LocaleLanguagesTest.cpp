#include "platform/linux/desktop/LocaleLanguages.h"

#include <map>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using Variables = std::map<std::string, std::string>;
using Languages = std::vector<std::string>;

TEST(LocaleLanguages, LanguageListFirstElseTheFirstSetLocaleVariable) {
    const std::pair<Variables, Languages> cases[] = {
        {{{"LANGUAGE", "de_CH:de:en_US.UTF-8"}, {"LANG", "fr_FR.UTF-8"}}, {"de-CH", "de", "en-US"}},
        // Empty entries are skipped; C and POSIX are no language.
        {{{"LANGUAGE", ":en_GB::C:POSIX:de_DE@euro:"}}, {"en-GB", "de-DE"}},
        {{{"LANGUAGE", "C"}, {"LANG", "de_AT.UTF-8"}}, {"de-AT"}},
        {{{"LANGUAGE", ""}, {"LANG", "de_AT.UTF-8"}}, {"de-AT"}},
        {{{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR"}}, {"en-US"}},
        {{{"LC_ALL", ""}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR"}}, {"de-DE"}},
        {{{"LANG", "sr_RS.UTF-8@latin"}}, {"sr-RS"}},
        {{{"LANG", "de"}}, {"de"}},
        // LC_ALL=C overrides LANG: the user asked for no language.
        {{{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}, {}},
        {{{"LANG", "POSIX"}}, {}},
        {{}, {}},
    };
    for (const auto& [variables, expected] : cases) {
        LocaleLanguages languages([&](const std::string& name) -> std::optional<std::string> {
            const auto it = variables.find(name);
            return it == variables.end() ? std::nullopt : std::optional(it->second);
        });
        EXPECT_EQ(languages.preferredLanguages(), expected) << ::testing::PrintToString(variables);
    }
}

} // namespace
} // namespace varnu::linux_backend
