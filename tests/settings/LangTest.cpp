#include "settings/Lang.h"

#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimUserDefaults.h"
#include "settings/SettingsKeys.h"
#include "settings/SettingsModel.h"

#include <memory>
#include <string>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimPreferredLanguages;
using sim::SimUserDefaults;

class LangTest : public ::testing::Test {
protected:
    bool germanWith(const DefaultsValue& setting, std::vector<std::string> system) {
        store->put(kLanguageKey, setting);
        languages.setPreferredLanguages(std::move(system));
        return Lang::isGerman(*store, languages);
    }

    std::shared_ptr<SimUserDefaults> store = std::make_shared<SimUserDefaults>();
    SimPreferredLanguages languages;
};

TEST_F(LangTest, ExplicitChoiceOverridesTheSystem) {
    EXPECT_TRUE(germanWith(std::string("de"), {"en-US"}));
    EXPECT_FALSE(germanWith(std::string("en"), {"de-DE"}));
    EXPECT_TRUE(germanWith(std::string("de"), {}));
}

TEST_F(LangTest, AnythingElseFollowsTheLanguageOfTheFirstPreferredEntry) {
    languages.setPreferredLanguages({"de-CH"});
    EXPECT_TRUE(Lang::isGerman(*store, languages)) << "nothing stored";

    EXPECT_FALSE(germanWith(std::string("auto"), {"en-DE", "de-DE"}));
    EXPECT_TRUE(germanWith(std::string("auto"), {"de-Latn-AT", "en-US"}));
    EXPECT_FALSE(germanWith(std::string("auto"), {}));
    EXPECT_TRUE(germanWith(std::string("DE"), {"de-DE"}));
    EXPECT_FALSE(germanWith(std::string("DE"), {"en-US"}));
    EXPECT_FALSE(germanWith(std::string("EN"), {"en-US"}));
    EXPECT_TRUE(germanWith(std::string("EN"), {"de-DE"}));
    EXPECT_TRUE(germanWith(std::string("fr"), {"de"}));
    EXPECT_TRUE(germanWith(std::string(""), {"de-DE"}));
    EXPECT_TRUE(germanWith(std::int64_t{1}, {"de-DE"})) << "a stored non-text counts as absent";
    EXPECT_FALSE(germanWith(std::string("auto"), {"fr-DE"}));
}

TEST_F(LangTest, ReadsTheStoreOnEveryCallSoALanguageHandlerSeesTheNewChoice) {
    languages.setPreferredLanguages({"en-US"});
    SettingsModel model(store);
    std::vector<bool> seen;
    model.onLanguage = [&] { seen.push_back(Lang::isGerman(*store, languages)); };

    model.setLanguage("de");
    model.setLanguage("en");
    model.setLanguage("auto");
    languages.setPreferredLanguages({"de-DE"});
    EXPECT_TRUE(Lang::isGerman(*store, languages));
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false}));
}

} // namespace
} // namespace varnu
