#include "settings/SettingsView.h"

#include "platform/Image.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimScheduler.h"
#include "platform/sim/SimUserDefaults.h"

#include <algorithm>
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

std::vector<std::string> ids(const ViewNode& node) {
    std::vector<std::string> all{node.id};
    for (const auto& child : node.children) {
        auto below = ids(child);
        all.insert(all.end(), below.begin(), below.end());
    }
    return all;
}

std::vector<std::string> childIds(const ViewNode& node) {
    std::vector<std::string> all;
    for (const auto& child : node.children) {
        all.push_back(child.id);
    }
    return all;
}

std::vector<std::string> titles(const ViewNode& picker) {
    std::vector<std::string> all;
    for (const auto& entry : picker.entries) {
        all.push_back(entry.title);
    }
    return all;
}

TEST(SettingsView, EnglishTreeWithItsLayout) {
    ViewWorld world;
    world.model->setControlInfo("Control: monitor (DDC) – 35%");
    const ViewNode tree = world.view->body();

    EXPECT_EQ(tree.kind, ViewKind::VStack);
    EXPECT_EQ(tree.id, "root");
    EXPECT_EQ(tree.width, 460);
    EXPECT_EQ(tree.height, 600);
    EXPECT_EQ(tree.spacing, 0);
    EXPECT_EQ(tree.alignment, HorizontalAlignment::Center);
    EXPECT_EQ(ids(tree), (std::vector<std::string>{"root",
                                                   "header",
                                                   "header.icon",
                                                   "header.titles",
                                                   "header.title",
                                                   "header.subtitle",
                                                   "header.spacer",
                                                   "form",
                                                   "output",
                                                   "output.picker",
                                                   "output.info",
                                                   "general",
                                                   "general.autostart",
                                                   "general.showHUD",
                                                   "general.hideMonitorOSD",
                                                   "general.step",
                                                   "general.language",
                                                   "keys",
                                                   "keys.missing",
                                                   "keys.explanation",
                                                   "keys.open"}));

    const auto& header = at(tree, "header");
    EXPECT_EQ(header.kind, ViewKind::HStack);
    EXPECT_EQ(header.spacing, 14);
    EXPECT_EQ(header.padding, (EdgeInsets{18, 20, 4, 20}));
    const auto& icon = at(tree, "header.icon");
    EXPECT_EQ(icon.kind, ViewKind::Image);
    EXPECT_EQ(icon.symbol, kApplicationIconSymbol);
    EXPECT_EQ(icon.width, 56);
    EXPECT_EQ(icon.height, 56);
    const auto& titlesStack = at(tree, "header.titles");
    EXPECT_EQ(titlesStack.alignment, HorizontalAlignment::Leading);
    EXPECT_EQ(titlesStack.spacing, 2);
    const auto& title = at(tree, "header.title");
    EXPECT_EQ(title.text, "Varnu");
    EXPECT_EQ(title.style, TextStyle::Title2);
    EXPECT_TRUE(title.bold);
    const auto& subtitle = at(tree, "header.subtitle");
    EXPECT_EQ(subtitle.text, "Volume keys for every speaker – including your monitor.");
    EXPECT_EQ(subtitle.style, TextStyle::Callout);
    EXPECT_EQ(subtitle.color, TextColor::Secondary);
    EXPECT_EQ(at(tree, "header.spacer").kind, ViewKind::Spacer);

    EXPECT_EQ(at(tree, "form").kind, ViewKind::Form);
    EXPECT_EQ(at(tree, "output").text, "Output device");
    EXPECT_EQ(at(tree, "output.picker").text, "Play sound through");
    const auto& info = at(tree, "output.info");
    EXPECT_EQ(info.kind, ViewKind::Label);
    EXPECT_EQ(info.symbol, "slider.horizontal.3");
    EXPECT_EQ(info.text, "Control: monitor (DDC) – 35%");
    EXPECT_EQ(info.style, TextStyle::Callout);
    EXPECT_EQ(info.color, TextColor::Secondary);

    EXPECT_EQ(at(tree, "general").text, "General");
    EXPECT_EQ(at(tree, "general.autostart").text, "Start automatically at login");
    EXPECT_EQ(at(tree, "general.showHUD").text, "Show volume overlay");
    EXPECT_EQ(at(tree, "general.hideMonitorOSD").text, "Hide the monitor's own overlay");
    const auto& step = at(tree, "general.step");
    EXPECT_EQ(step.text, "Step per key press");
    EXPECT_EQ(step.entries, (std::vector<PickerEntry>{
                                {"2", "Fine (2%)"}, {"6", "Normal (6%)"}, {"10", "Coarse (10%)"}}));
    const auto& language = at(tree, "general.language");
    EXPECT_EQ(language.text, "Language");
    EXPECT_EQ(language.entries,
              (std::vector<PickerEntry>{
                  {"auto", "Automatic (system language)"}, {"de", "Deutsch"}, {"en", "English"}}));

    EXPECT_EQ(at(tree, "keys").text, "Key control");
    const auto& missing = at(tree, "keys.missing");
    EXPECT_EQ(missing.kind, ViewKind::Label);
    EXPECT_EQ(missing.symbol, "exclamationmark.triangle.fill");
    EXPECT_EQ(missing.text, "Accessibility access is missing");
    EXPECT_EQ(missing.color, TextColor::Orange);
    const auto& explanation = at(tree, "keys.explanation");
    EXPECT_EQ(explanation.text,
              "Without this permission the app cannot intercept the volume keys.");
    EXPECT_EQ(explanation.style, TextStyle::Callout);
    EXPECT_EQ(explanation.color, TextColor::Secondary);
    EXPECT_EQ(at(tree, "keys.open").kind, ViewKind::Button);
    EXPECT_EQ(at(tree, "keys.open").text, "Open System Settings…");
}

TEST(SettingsView, GermanTextsFollowTheLanguageRule) {
    // The system's first language decides while the setting says "auto"...
    ViewWorld world({"de-CH", "en-US"});
    ViewNode tree = world.view->body();
    EXPECT_EQ(at(tree, "header.subtitle").text,
              "Lautstärketasten für jeden Lautsprecher – auch im Monitor.");
    EXPECT_EQ(at(tree, "header.title").text, "Varnu");
    EXPECT_EQ(at(tree, "output").text, "Ausgabegerät");
    EXPECT_EQ(at(tree, "output.picker").text, "Ton ausgeben über");
    EXPECT_EQ(at(tree, "general").text, "Allgemein");
    EXPECT_EQ(at(tree, "general.autostart").text, "Beim Anmelden automatisch starten");
    EXPECT_EQ(at(tree, "general.showHUD").text, "Lautstärke-Anzeige einblenden");
    EXPECT_EQ(at(tree, "general.hideMonitorOSD").text, "Anzeige des Monitors ausblenden");
    EXPECT_EQ(at(tree, "general.step").text, "Schrittweite pro Tastendruck");
    EXPECT_EQ(titles(at(tree, "general.step")),
              (std::vector<std::string>{"Fein (2 %)", "Normal (6 %)", "Grob (10 %)"}));
    EXPECT_EQ(at(tree, "general.language").text, "Sprache");
    EXPECT_EQ(titles(at(tree, "general.language")),
              (std::vector<std::string>{"Automatisch (Systemsprache)", "Deutsch", "English"}));
    EXPECT_EQ(at(tree, "keys").text, "Tasten-Steuerung");
    EXPECT_EQ(at(tree, "keys.missing").text, "Zugriff auf Bedienungshilfen fehlt");
    EXPECT_EQ(at(tree, "keys.explanation").text,
              "Ohne diese Freigabe kann die App die Lautstärketasten nicht abfangen.");
    EXPECT_EQ(at(tree, "keys.open").text, "Systemeinstellungen öffnen …");
    world.model->setAccessibilityOK(true);
    EXPECT_EQ(at(world.view->body(), "keys.active").text, "Lautstärketasten sind aktiv");

    // ...and the stored setting overrides it, read afresh on every build.
    world.store->put(kLanguageKey, std::string("en"));
    tree = world.view->body();
    EXPECT_EQ(at(tree, "keys.active").text, "Volume keys are active");
    EXPECT_EQ(at(tree, "general.language").entries.front().title, "Automatic (system language)");
    world.languages->setPreferredLanguages({"en-GB"});
    world.store->put(kLanguageKey, std::string("de"));
    EXPECT_EQ(at(world.view->body(), "general").text, "Allgemein");
}

TEST(SettingsView, MarksOnlyAnEntryCarryingTheModelsValue) {
    ViewWorld world;
    ViewNode tree = world.view->body();
    EXPECT_TRUE(at(tree, "output.picker").entries.empty());
    EXPECT_EQ(at(tree, "output.picker").selectedTag, std::nullopt);
    EXPECT_EQ(at(tree, "general.step").selectedTag, "6");
    EXPECT_EQ(at(tree, "general.language").selectedTag, "auto");

    world.model->setDevices({{1, "uid-speakers", "Speakers"}, {7, "uid-dell", "DELL U2723QE"}});
    world.model->setSelectedUID("uid-dell");
    world.model->setStep(10);
    world.model->setLanguage("de");
    tree = world.view->body();
    EXPECT_EQ(
        at(tree, "output.picker").entries,
        (std::vector<PickerEntry>{{"uid-speakers", "Speakers"}, {"uid-dell", "DELL U2723QE"}}));
    EXPECT_EQ(at(tree, "output.picker").selectedTag, "uid-dell");
    EXPECT_EQ(at(tree, "general.step").selectedTag, "10");
    EXPECT_EQ(at(tree, "general.language").selectedTag, "de");

    // Values no entry carries: a device that went away, a step and a language from the store.
    world.store->put(kStepKey, std::int64_t{3});
    world.store->put(kLanguageKey, std::string("fr"));
    const auto devices = world.model->devices();
    world.rebuild();
    world.model->setDevices(devices);
    world.model->setSelectedUID("uid-gone");
    tree = world.view->body();
    EXPECT_EQ(world.model->step(), 3);
    EXPECT_EQ(at(tree, "output.picker").selectedTag, std::nullopt);
    EXPECT_EQ(at(tree, "general.step").selectedTag, std::nullopt);
    EXPECT_EQ(at(tree, "general.language").selectedTag, std::nullopt);
}

TEST(SettingsView, OptionalRowsFollowTheModel) {
    ViewWorld world;
    ViewNode tree = world.view->body();
    EXPECT_EQ(
        childIds(at(tree, "general")),
        (std::vector<std::string>{"general.autostart", "general.showHUD", "general.hideMonitorOSD",
                                  "general.step", "general.language"}));
    EXPECT_EQ(childIds(at(tree, "keys")),
              (std::vector<std::string>{"keys.missing", "keys.explanation", "keys.open"}));

    world.model->setOSDInfo("This monitor does not support hiding its overlay.");
    world.model->setAccessibilityOK(true);
    world.model->setAutostart(true);
    world.model->setShowHUD(false);
    tree = world.view->body();
    EXPECT_EQ(
        childIds(at(tree, "general")),
        (std::vector<std::string>{"general.autostart", "general.showHUD", "general.hideMonitorOSD",
                                  "general.osdInfo", "general.step", "general.language"}));
    const auto& osdInfo = at(tree, "general.osdInfo");
    EXPECT_EQ(osdInfo.text, "This monitor does not support hiding its overlay.");
    EXPECT_EQ(osdInfo.style, TextStyle::Callout);
    EXPECT_EQ(osdInfo.color, TextColor::Secondary);
    EXPECT_TRUE(at(tree, "general.autostart").isOn);
    EXPECT_FALSE(at(tree, "general.showHUD").isOn);
    EXPECT_TRUE(at(tree, "general.hideMonitorOSD").isOn);

    EXPECT_EQ(childIds(at(tree, "keys")), std::vector<std::string>{"keys.active"});
    const auto& active = at(tree, "keys.active");
    EXPECT_EQ(active.kind, ViewKind::Label);
    EXPECT_EQ(active.symbol, "checkmark.circle.fill");
    EXPECT_EQ(active.text, "Volume keys are active");
    EXPECT_EQ(active.color, TextColor::Green);
}

TEST(SettingsView, EachActionIsExactlyOneModelOperation) {
    ViewWorld world;
    std::vector<std::string> log;
    world.store->setWriteObserver([&](std::string_view key, const DefaultsValue&) {
        log.push_back("store " + std::string(key));
    });
    world.model->onSelect = [&](const std::string& uid) { log.push_back("onSelect " + uid); };
    world.model->onAutostart = [&](bool on) {
        log.push_back(on ? "onAutostart on" : "onAutostart off");
    };
    world.model->onOpenAccessibility = [&] { log.push_back("onOpenAccessibility"); };
    world.model->onHideOSD = [&] { log.push_back("onHideOSD"); };
    world.model->onLanguage = [&] { log.push_back("onLanguage"); };
    world.model->setDevices({{7, "uid-dell", "DELL U2723QE"}});
    world.model->setSelectedUID("uid-other");
    const ViewNode tree = world.view->body();

    auto act = [&](auto&& action) {
        log.clear();
        action();
        return log;
    };
    using Log = std::vector<std::string>;
    EXPECT_EQ(act([&] { at(tree, "output.picker").onPick("uid-dell"); }), Log{"onSelect uid-dell"});
    EXPECT_EQ(world.model->selectedUID(), "uid-other");
    EXPECT_EQ(act([&] { at(tree, "general.autostart").onToggle(true); }), Log{"onAutostart on"});
    EXPECT_FALSE(world.model->autostart());
    EXPECT_EQ(act([&] { at(tree, "general.showHUD").onToggle(false); }), Log{"store showHUD"});
    EXPECT_FALSE(world.model->showHUD());
    EXPECT_EQ(act([&] { at(tree, "general.hideMonitorOSD").onToggle(false); }),
              (Log{"store hideMonitorOSD", "onHideOSD"}));
    EXPECT_FALSE(world.model->hideMonitorOSD());
    EXPECT_EQ(act([&] { at(tree, "general.step").onPick("10"); }), Log{"store step"});
    EXPECT_EQ(world.model->step(), 10);
    EXPECT_EQ(act([&] { at(tree, "general.language").onPick("de"); }),
              (Log{"store language", "onLanguage"}));
    EXPECT_EQ(world.model->language(), "de");
    EXPECT_EQ(act([&] { at(tree, "keys.open").onPress(); }), Log{"onOpenAccessibility"});

    // A tree kept past the model's life acts on nothing.
    world.view.reset();
    world.model.reset();
    EXPECT_EQ(act([&] {
                  at(tree, "output.picker").onPick("uid-dell");
                  at(tree, "general.step").onPick("2");
                  at(tree, "keys.open").onPress();
              }),
              Log{});
}

TEST(SettingsView, InvalidatesOnceAfterTheChangesOfATurnHaveLanded) {
    ViewWorld world;
    std::vector<std::string> seen;
    world.view->setInvalidationHandler([&] {
        const ViewNode tree = world.view->body();
        seen.push_back(at(tree, "general").text + " " +
                       at(tree, "general.step").selectedTag.value_or("-") + " " +
                       at(tree, "output.info").text);
    });

    world.model->setStep(10);
    world.model->setControlInfo("Control: macOS (standard)");
    EXPECT_TRUE(seen.empty());
    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen, std::vector<std::string>{"General 10 Control: macOS (standard)"});

    // The language setter notifies before it stores; the rebuild must see the stored value.
    at(world.view->body(), "general.language").onPick("de");
    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen.back(), "Allgemein 10 Control: macOS (standard)");
    EXPECT_EQ(seen.size(), 2u);

    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen.size(), 2u);

    world.view->setInvalidationHandler(nullptr);
    world.model->setStep(2);
    world.scheduler->runUntilIdle();
    EXPECT_EQ(seen.size(), 2u);

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

TEST(SettingsView, IdentitiesStayTheSameFromBuildToBuild) {
    ViewWorld world;
    const auto first = ids(world.view->body());
    world.model->setDevices({{1, "a", "A"}, {2, "b", "B"}});
    world.model->setControlInfo("x");
    world.model->setStep(2);
    world.store->put(kLanguageKey, std::string("de"));
    const auto second = ids(world.view->body());
    EXPECT_EQ(first, second);
    std::vector<std::string> sorted = second;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end());
}

} // namespace
} // namespace varnu
