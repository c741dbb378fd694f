#include "settings/SettingsModel.h"

#include "platform/sim/SimUserDefaults.h"

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu {
namespace {

using sim::SimUserDefaults;

class SettingsModelTest : public ::testing::Test {
protected:
    SettingsModelTest() {
        store->setWriteObserver([this](std::string_view key, const DefaultsValue& value) {
            writes.emplace_back(std::string(key), value);
        });
    }

    std::shared_ptr<SimUserDefaults> store = std::make_shared<SimUserDefaults>();
    std::vector<std::pair<std::string, DefaultsValue>> writes;
};

TEST_F(SettingsModelTest, EmptyStoreGivesDefaultsAndStaysEmpty) {
    SettingsModel model(store);
    EXPECT_EQ(model.step(), 6);
    EXPECT_TRUE(model.showHUD());
    EXPECT_TRUE(model.hideMonitorOSD());
    EXPECT_EQ(model.language(), "auto");
    EXPECT_TRUE(model.devices().empty());
    EXPECT_EQ(model.selectedUID(), "");
    EXPECT_FALSE(model.autostart());
    EXPECT_FALSE(model.accessibilityOK());
    EXPECT_EQ(model.controlInfo(), "");
    EXPECT_EQ(model.osdInfo(), "");
    EXPECT_TRUE(store->values().empty());
    EXPECT_TRUE(writes.empty());
}

TEST_F(SettingsModelTest, StoredFalseAndZeroCountAndOnlyMatchingTypesAreTaken) {
    store->put(kStepKey, std::int64_t{0});
    store->put(kShowHUDKey, false);
    store->put(kHideMonitorOSDKey, false);
    store->put(kLanguageKey, std::string("fr"));
    {
        SettingsModel model(store);
        EXPECT_EQ(model.step(), 0);
        EXPECT_FALSE(model.showHUD());
        EXPECT_FALSE(model.hideMonitorOSD());
        EXPECT_EQ(model.language(), "fr");
    }

    store->put(kStepKey, std::string("5"));
    store->put(kShowHUDKey, std::int64_t{0});
    store->put(kHideMonitorOSDKey, std::string("false"));
    store->put(kLanguageKey, std::int64_t{1});
    {
        SettingsModel model(store);
        EXPECT_EQ(model.step(), 6);
        EXPECT_TRUE(model.showHUD());
        EXPECT_TRUE(model.hideMonitorOSD());
        EXPECT_EQ(model.language(), "auto");
    }

    store->put(kStepKey, 5.0);
    EXPECT_EQ(SettingsModel(store).step(), 5);
    store->put(kStepKey, 5.5);
    EXPECT_EQ(SettingsModel(store).step(), 6);
    store->put(kStepKey, true);
    EXPECT_EQ(SettingsModel(store).step(), 6);
    store->put(kStepKey, DefaultsOtherValue{"2024-01-01"});
    EXPECT_EQ(SettingsModel(store).step(), 6);
    EXPECT_TRUE(writes.empty());
}

TEST_F(SettingsModelTest, StoreIsReadOnlyAtConstruction) {
    SettingsModel model(store);
    store->put(kStepKey, std::int64_t{3});
    store->put(kLanguageKey, std::string("de"));
    EXPECT_EQ(model.step(), 6);
    EXPECT_EQ(model.language(), "auto");
}

TEST_F(SettingsModelTest, PreferencesReachTheStoreBeforeTheirCallbackOnEveryAssignment) {
    SettingsModel model(store);
    std::vector<DefaultsValue> seenByHideOSD;
    std::vector<DefaultsValue> seenByLanguage;
    model.onHideOSD = [&] { seenByHideOSD.push_back(*store->object(kHideMonitorOSDKey)); };
    model.onLanguage = [&] { seenByLanguage.push_back(*store->object(kLanguageKey)); };

    model.setHideMonitorOSD(false);
    model.setHideMonitorOSD(false);
    model.setLanguage("de");
    model.setLanguage("de");
    EXPECT_EQ(seenByHideOSD, (std::vector<DefaultsValue>{false, false}));
    EXPECT_EQ(seenByLanguage, (std::vector<DefaultsValue>{std::string("de"), std::string("de")}));

    writes.clear();
    model.setStep(2);
    model.setShowHUD(false);
    EXPECT_EQ(writes, (std::vector<std::pair<std::string, DefaultsValue>>{{"step", std::int64_t{2}},
                                                                          {"showHUD", false}}));
    EXPECT_EQ(seenByHideOSD.size(), 2u);
    EXPECT_EQ(seenByLanguage.size(), 2u);
    EXPECT_EQ(model.step(), 2);
    EXPECT_FALSE(model.showHUD());
}

TEST_F(SettingsModelTest, WillChangeFiresBeforeEveryAssignmentEvenOfAnEqualValue) {
    SettingsModel model(store);
    std::vector<std::string> seen;
    auto subscription = model.objectWillChange.subscribe([&] {
        seen.push_back(std::to_string(model.step()) + " " + model.language() + " " +
                       model.selectedUID() + " " + std::to_string(model.devices().size()));
    });

    model.setStep(6);
    model.setStep(1);
    model.setLanguage("en");
    model.setSelectedUID("DP-1");
    model.setDevices({AudioOutput{40, "DP-1", "DELL"}});
    EXPECT_EQ(seen, (std::vector<std::string>{"6 auto  0", "6 auto  0", "1 auto  0", "1 en  0",
                                              "1 en DP-1 0"}));

    seen.clear();
    model.setShowHUD(true);
    model.setHideMonitorOSD(true);
    model.setAutostart(false);
    model.setAccessibilityOK(false);
    model.setControlInfo("");
    model.setOSDInfo("");
    EXPECT_EQ(seen.size(), 6u);
}

TEST_F(SettingsModelTest, DisplayValuesAndCallbacksNeitherPersistNorNotify) {
    SettingsModel model(store);
    int notifications = 0;
    auto subscription = model.objectWillChange.subscribe([&] { ++notifications; });
    int callbacks = 0;
    model.onHideOSD = [&] { ++callbacks; };
    model.onLanguage = [&] { ++callbacks; };
    model.onSelect = [&](const std::string&) { ++callbacks; };
    model.onAutostart = [&](bool) { ++callbacks; };
    model.onOpenAccessibility = [&] { ++callbacks; };
    EXPECT_EQ(notifications, 0);

    model.setDevices({AudioOutput{40, "DP-1", "DELL"}});
    model.setSelectedUID("DP-1");
    model.setAutostart(true);
    model.setAccessibilityOK(true);
    model.setControlInfo("DDC: DELL – 50%");
    model.setOSDInfo("hidden");
    EXPECT_EQ(notifications, 6);
    EXPECT_EQ(callbacks, 0);
    EXPECT_TRUE(writes.empty());
    EXPECT_FALSE(store->contains(kSelectedDeviceUIDKey));
    EXPECT_EQ(model.selectedUID(), "DP-1");
    EXPECT_TRUE(model.autostart());
    EXPECT_TRUE(model.accessibilityOK());
    EXPECT_EQ(model.osdInfo(), "hidden");
}

} // namespace
} // namespace varnu
