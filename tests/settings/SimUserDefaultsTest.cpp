#include "platform/sim/SimUserDefaults.h"

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

TEST(SimUserDefaults, ReportsOnlyApplicationWritesAndAnswersTextOnlyForText) {
    SimUserDefaults store;
    std::vector<std::pair<std::string, DefaultsValue>> writes;
    store.setWriteObserver([&](std::string_view key, const DefaultsValue& value) {
        writes.emplace_back(std::string(key), value);
    });

    store.put("step", 5.0);
    store.put("language", std::string("fr"));
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(store.object("step"), DefaultsValue(5.0));
    EXPECT_EQ(store.string("step"), std::nullopt);
    EXPECT_EQ(store.string("language"), "fr");
    EXPECT_EQ(store.object("missing"), std::nullopt);

    store.setInteger("volume.DP-1", 40);
    store.setBool("showHUD", false);
    store.setString("language", "de");
    EXPECT_EQ(writes, (std::vector<std::pair<std::string, DefaultsValue>>{
                          {"volume.DP-1", std::int64_t{40}},
                          {"showHUD", false},
                          {"language", std::string("de")}}));
    EXPECT_EQ(store.string("language"), "de");

    store.remove("language");
    EXPECT_FALSE(store.contains("language"));
    EXPECT_EQ(writes.size(), 3u);
}

} // namespace
} // namespace varnu::sim
