#include "settings/Lang.h"

#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimUserDefaults.h"
#include "settings/SettingsKeys.h"

#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

TEST(Lang, AnExplicitChoiceWinsAndAnythingElseFollowsTheFirstPreferredLanguage) {
    struct Case {
        std::optional<DefaultsValue> setting;
        std::vector<std::string> system;
        bool german;
    };
    const Case cases[] = {
        {std::string("de"), {"en-US"}, true},
        {std::string("en"), {"de-DE"}, false},
        {std::string("de"), {}, true},
        {std::nullopt, {"de-CH"}, true},
        {std::string("auto"), {"en-DE", "de-DE"}, false},
        {std::string("auto"), {"de-Latn-AT", "en-US"}, true},
        {std::string("auto"), {}, false},
        {std::string("auto"), {"fr-DE"}, false},
        {std::string("DE"), {"en-US"}, false},
        {std::string("EN"), {"de-DE"}, true},
        {std::string("fr"), {"de"}, true},
        {std::string(""), {"de-DE"}, true},
        {std::int64_t{1}, {"de-DE"}, true}, // a stored non-text counts as absent
    };
    for (const auto& [setting, system, german] : cases) {
        sim::SimUserDefaults store;
        if (setting) {
            store.put(kLanguageKey, *setting);
        }
        sim::SimPreferredLanguages languages(system);
        EXPECT_EQ(Lang::isGerman(store, languages), german) << (system.empty() ? "-" : system[0]);
    }
}

} // namespace
} // namespace varnu
