#include "settings/SettingsModel.h"

#include "platform/sim/SimUserDefaults.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using Writes = std::vector<std::pair<std::string, DefaultsValue>>;

struct SettingsModelTest : ::testing::Test {
    std::shared_ptr<sim::SimUserDefaults> store = std::make_shared<sim::SimUserDefaults>();
    Writes writes;

    SettingsModelTest() {
        store->setWriteObserver([this](std::string_view key, const DefaultsValue& value) {
            writes.emplace_back(std::string(key), value);
        });
    }
};

TEST_F(SettingsModelTest, TakesStoredValuesOfTheRightTypeOnlyOnceAndWritesNothingWhenReading) {
    SettingsModel empty(store);
    EXPECT_EQ(empty.step(), 6);
    EXPECT_TRUE(empty.hideMonitorOSD());

    // Stored false and zero count.
    store->put(kStepKey, std::int64_t{0});
    store->put(kShowHUDKey, false);
    store->put(kHideMonitorOSDKey, false);
    store->put(kLanguageKey, std::string("fr"));
    SettingsModel stored(store);
    EXPECT_EQ(stored.step(), 0);
    EXPECT_FALSE(stored.showHUD());
    EXPECT_FALSE(stored.hideMonitorOSD());
    EXPECT_EQ(stored.language(), "fr");
    EXPECT_EQ(empty.step(), 6) << "the store is read only at construction";

    store->put(kShowHUDKey, std::int64_t{0});
    store->put(kLanguageKey, std::int64_t{1});
    SettingsModel mistyped(store);
    EXPECT_TRUE(mistyped.showHUD());
    EXPECT_EQ(mistyped.language(), "auto");

    struct Case {
        DefaultsValue stored;
        std::int64_t step;
    };
    for (const auto& [value, step] : {Case{std::string("5"), 6}, Case{5.0, 5}, Case{5.5, 6},
                                      Case{true, 6}, Case{DefaultsOtherValue{"2024-01-01"}, 6}}) {
        store->put(kStepKey, value);
        EXPECT_EQ(SettingsModel(store).step(), step);
    }
    EXPECT_TRUE(writes.empty());
}

TEST_F(SettingsModelTest, PreferencesReachTheStoreBeforeTheirCallbackOnEveryAssignment) {
    SettingsModel model(store);
    std::vector<DefaultsValue> seen;
    model.onHideOSD = [&] { seen.push_back(*store->object(kHideMonitorOSDKey)); };
    model.onLanguage = [&] { seen.push_back(*store->object(kLanguageKey)); };

    model.setHideMonitorOSD(false);
    model.setHideMonitorOSD(false);
    model.setLanguage("de");
    model.setStep(2);
    model.setShowHUD(false);
    EXPECT_EQ(seen, (std::vector<DefaultsValue>{false, false, std::string("de")}));
    EXPECT_EQ(writes, (Writes{{"hideMonitorOSD", false},
                              {"hideMonitorOSD", false},
                              {"language", std::string("de")},
                              {"step", std::int64_t{2}},
                              {"showHUD", false}}));
}

TEST_F(SettingsModelTest, WillChangeFiresBeforeEveryAssignmentAndDisplayValuesStayUnstored) {
    SettingsModel model(store);
    std::vector<std::string> seen;
    auto subscription = model.objectWillChange.subscribe([&] {
        seen.push_back(std::to_string(model.step()) + " " + model.selectedUID() + " " +
                       std::to_string(model.devices().size()));
    });
    int callbacks = 0;
    model.onSelect = [&](const std::string&) { ++callbacks; };
    model.onAutostart = [&](bool) { ++callbacks; };

    model.setStep(6);
    model.setStep(1);
    model.setSelectedUID("DP-1");
    model.setDevices({AudioOutput{40, "DP-1", "DELL"}});
    EXPECT_EQ(seen, (std::vector<std::string>{"6  0", "6  0", "1  0", "1 DP-1 0"}));

    model.setAutostart(true);
    model.setAccessibilityOK(true);
    model.setControlInfo("");
    model.setOSDInfo("hidden");
    EXPECT_EQ(seen.size(), 8u);
    EXPECT_EQ(callbacks, 0);
    EXPECT_EQ(writes, (Writes{{"step", std::int64_t{6}}, {"step", std::int64_t{1}}}));
    EXPECT_EQ(model.osdInfo(), "hidden");
}

} // namespace
} // namespace varnu
