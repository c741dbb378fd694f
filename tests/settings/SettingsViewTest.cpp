#include "settings/SettingsView.h"

#include "platform/Image.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimUserDefaults.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

struct ViewWorld {
    std::shared_ptr<sim::SimUserDefaults> store = std::make_shared<sim::SimUserDefaults>();
    std::shared_ptr<sim::SimPreferredLanguages> languages =
        std::make_shared<sim::SimPreferredLanguages>(std::vector<std::string>{"en-US"});
    std::shared_ptr<sim::SimScheduler> scheduler = sim::SimScheduler::create();
    std::shared_ptr<SettingsModel> model;
    std::shared_ptr<SettingsView> view;

    explicit ViewWorld(std::vector<std::string> preferred = {"en-US"}) {
        languages->setPreferredLanguages(std::move(preferred));
        rebuild();
    }
    // A fresh model and view, reading what is stored now.
    void rebuild() {
        model = std::make_shared<SettingsModel>(store);
        view = SettingsView::create(model, store, languages, scheduler);
    }
};

const ViewNode& at(const ViewNode& tree, const std::string& id) {
    static const ViewNode missing;
    const ViewNode* found = tree.find(id);
    if (!found) {
        ADD_FAILURE() << "no node " << id;
        return missing;
    }
    return *found;
}

// Every identity in the tree, depth first.
std::string ids(const ViewNode& node) {
    std::string all = node.id;
    for (const auto& child : node.children) {
        all += " " + ids(child);
    }
    return all;
}

TEST(SettingsView, KeepsItsIdentitiesWhateverTheModelHolds) {
    ViewWorld world;
    world.model->setOSDInfo("x");
    const ViewNode tree = world.view->body();
    const auto first = ids(tree);
    EXPECT_EQ(first, "root header header.icon header.titles header.title header.subtitle "
                     "header.spacer form output output.picker output.info general "
                     "general.autostart general.showHUD general.hideMonitorOSD "
                     "general.osdInfo general.step general.language keys keys.missing "
                     "keys.explanation keys.open");

    EXPECT_EQ(at(tree, "keys.missing").color, TextColor::Orange);
    world.model->setAccessibilityOK(true);
    EXPECT_EQ(at(world.view->body(), "keys.active").color, TextColor::Green);

    // A platform with more to say says it, in the language of the moment.
    world.model->setAccessibilityOK(false);
    world.model->setAccessAdvice(LocalizedText{"Join the group.", "Der Gruppe beitreten."});
    EXPECT_EQ(at(world.view->body(), "keys.missing").text, "Volume keys cannot be caught");
    EXPECT_EQ(at(world.view->body(), "keys.explanation").text, "Join the group.");
    EXPECT_EQ(at(world.view->body(), "keys.open").text, "More help…");
    world.store->put(kLanguageKey, std::string("de"));
    EXPECT_EQ(at(world.view->body(), "keys.explanation").text, "Der Gruppe beitreten.");
    world.store->put(kLanguageKey, std::string("en"));
    // Active keys with a notice say both, the notice beneath.
    world.model->setAccessibilityOK(true);
    EXPECT_EQ(at(world.view->body(), "keys.shared").text, "Join the group.");
    EXPECT_EQ(at(world.view->body(), "keys.active").color, TextColor::Green);
    world.model->setAccessAdvice(std::nullopt);
    EXPECT_EQ(world.view->body().find("keys.shared"), nullptr);

    // The same identities whatever the model holds.
    world.model->setAccessibilityOK(false);
    world.model->setDevices({{1, "a", "A"}, {2, "b", "B"}});
    world.store->put(kLanguageKey, std::string("de"));
    EXPECT_EQ(ids(world.view->body()), first);
}

TEST(SettingsView, ReadsTheLanguageAfreshOnEveryBuild) {
    ViewWorld world({"de-CH", "en-US"});
    world.model->setAccessibilityOK(true);
    EXPECT_EQ(at(world.view->body(), "keys.active").text, "Lautstärketasten sind aktiv");
    world.store->put(kLanguageKey, std::string("en"));
    EXPECT_EQ(at(world.view->body(), "keys.active").text, "Volume keys are active");
    world.languages->setPreferredLanguages({"en-GB"});
    world.store->put(kLanguageKey, std::string("de"));
    EXPECT_EQ(at(world.view->body(), "general").text, "Allgemein");
}

TEST(SettingsView, MarksOnlyAnEntryCarryingTheModelsValue) {
    ViewWorld world;
    EXPECT_EQ(at(world.view->body(), "output.picker").selectedTag, std::nullopt);
    world.store->put(kStepKey, std::int64_t{3});
    world.store->put(kLanguageKey, std::string("fr"));
    world.rebuild();
    world.model->setDevices({{1, "uid-speakers", "Speakers"}});
    world.model->setSelectedUID("uid-gone");
    const ViewNode tree = world.view->body();
    EXPECT_EQ(world.model->step(), 3);
    EXPECT_EQ(at(tree, "output.picker").selectedTag, std::nullopt);
    EXPECT_EQ(at(tree, "general.step").selectedTag, std::nullopt);
    EXPECT_EQ(at(tree, "general.language").selectedTag, std::nullopt);
}

TEST(SettingsView, EachActionIsExactlyOneModelOperation) {
    ViewWorld world;
    std::vector<std::string> log;
    world.store->setWriteObserver([&](std::string_view key, const DefaultsValue&) {
        log.push_back("store " + std::string(key));
    });
    world.model->onSelect = [&](const std::string& uid) { log.push_back("onSelect " + uid); };
    world.model->onAutostart = [&](bool on) { log.push_back(on ? "autostart on" : "off"); };
    world.model->onOpenAccessibility = [&] { log.push_back("onOpenAccessibility"); };
    world.model->onHideOSD = [&] { log.push_back("onHideOSD"); };
    world.model->onLanguage = [&] { log.push_back("onLanguage"); };
    world.model->setDevices({{7, "uid-dell", "DELL U2723QE"}});
    world.model->setSelectedUID("uid-other");
    const ViewNode tree = world.view->body();

    at(tree, "output.picker").onPick("uid-dell");
    at(tree, "general.autostart").onToggle(true);
    at(tree, "general.showHUD").onToggle(false);
    at(tree, "general.hideMonitorOSD").onToggle(false);
    at(tree, "general.step").onPick("10");
    at(tree, "general.language").onPick("de");
    at(tree, "keys.open").onPress();
    EXPECT_EQ(log,
              (std::vector<std::string>{"onSelect uid-dell", "autostart on", "store showHUD",
                                        "store hideMonitorOSD", "onHideOSD", "store step",
                                        "store language", "onLanguage", "onOpenAccessibility"}));
    EXPECT_EQ(world.model->selectedUID(), "uid-other");
    EXPECT_FALSE(world.model->autostart());
    EXPECT_FALSE(world.model->showHUD());
    EXPECT_FALSE(world.model->hideMonitorOSD());
    EXPECT_EQ(world.model->step(), 10);
    EXPECT_EQ(world.model->language(), "de");

    // A tree kept past the model's life acts on nothing.
    log.clear();
    world.view.reset();
    world.model.reset();
    at(tree, "output.picker").onPick("uid-dell");
    at(tree, "general.step").onPick("2");
    at(tree, "keys.open").onPress();
    EXPECT_TRUE(log.empty());
}

TEST(SettingsView, InvalidatesOnceAfterTheChangesOfATurnHaveLanded) {
    ViewWorld world;
    std::vector<std::string> seen;
    world.view->setInvalidationHandler([&] {
        const ViewNode tree = world.view->body();
        seen.push_back(at(tree, "general").text + " " +
                       at(tree, "general.step").selectedTag.value_or("-"));
    });

    world.model->setStep(10);
    world.model->setControlInfo("Control: macOS (standard)");
    EXPECT_TRUE(seen.empty());
    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"General 10"});

    // The language setter notifies before it stores; the rebuild must see the stored value.
    at(world.view->body(), "general.language").onPick("de");
    world.scheduler->runUntilIdle();
    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen, (std::vector<std::string>{"General 10", "Allgemein 10"}));

    // A view gone before its posted invalidation runs is left alone.
    int calls = 0;
    world.view->setInvalidationHandler([&] { ++calls; });
    world.model->setStep(6);
    world.view.reset();
    world.scheduler->runUntilIdle();
    EXPECT_EQ(calls, 0);
    world.model->setStep(2);
    EXPECT_FALSE(world.scheduler->hasPendingWork());
}

} // namespace
} // namespace varnu
