#include "platform/linux/LocaleLanguages.h"

#include <map>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using Languages = std::vector<std::string>;

Languages languagesFor(std::map<std::string, std::string> variables) {
    LocaleLanguages languages([variables](const std::string& name) -> std::optional<std::string> {
        const auto it = variables.find(name);
        return it == variables.end() ? std::nullopt : std::optional(it->second);
    });
    return languages.preferredLanguages();
}

TEST(LocaleLanguages, LanguageListComesFirstInItsOwnOrder) {
    EXPECT_EQ(languagesFor({{"LANGUAGE", "de_CH:de:en_US.UTF-8"}, {"LANG", "fr_FR.UTF-8"}}),
              (Languages{"de-CH", "de", "en-US"}));
    EXPECT_EQ(languagesFor({{"LANGUAGE", ":en_GB::C:POSIX:de_DE@euro:"}}),
              (Languages{"en-GB", "de-DE"}))
        << "empty entries skipped, C and POSIX are no language";
    // Nothing usable in $LANGUAGE: the locale decides.
    EXPECT_EQ(languagesFor({{"LANGUAGE", "C"}, {"LANG", "de_AT.UTF-8"}}), (Languages{"de-AT"}));
    EXPECT_EQ(languagesFor({{"LANGUAGE", ""}, {"LANG", "de_AT.UTF-8"}}), (Languages{"de-AT"}));
}

TEST(LocaleLanguages, OtherwiseTheFirstSetLocaleVariableDecides) {
    EXPECT_EQ(
        languagesFor(
            {{"LC_ALL", "en_US.UTF-8"}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR.UTF-8"}}),
        (Languages{"en-US"}));
    EXPECT_EQ(languagesFor({{"LC_ALL", ""}, {"LC_MESSAGES", "de_DE.UTF-8"}, {"LANG", "fr_FR"}}),
              (Languages{"de-DE"}));
    EXPECT_EQ(languagesFor({{"LANG", "sr_RS.UTF-8@latin"}}), (Languages{"sr-RS"}));
    EXPECT_EQ(languagesFor({{"LANG", "de"}}), (Languages{"de"}));
    // LC_ALL=C overrides LANG: the user asked for no language.
    EXPECT_EQ(languagesFor({{"LC_ALL", "C.UTF-8"}, {"LANG", "de_DE.UTF-8"}}), Languages{});
    EXPECT_EQ(languagesFor({{"LANG", "POSIX"}}), Languages{});
    EXPECT_EQ(languagesFor({}), Languages{});
}

} // namespace
} // namespace varnu::linux_backend
