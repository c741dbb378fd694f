#include "platform/sim/SimLoginItem.h"

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

TEST(SimLoginItem, OutcomesDecideTheAnswerAndTheStatus) {
    SimLoginItem item;
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);

    item.setOutcome(SimLoginItem::Outcome::NeedsApproval);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::RequiresApproval);
    item.approve();
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);

    item.setOutcome(SimLoginItem::Outcome::Fails, "Operation not permitted");
    auto error = item.unregisterItem();
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->localizedDescription, "Operation not permitted");
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    item.setStatus(LoginItemStatus::NotFound);
    EXPECT_TRUE(item.registerItem().has_value());
    EXPECT_EQ(item.status(), LoginItemStatus::NotFound);

    ASSERT_EQ(item.history().size(), 5u);
    EXPECT_EQ(item.history()[3].kind, LoginItemRecord::Kind::Unregister);
    EXPECT_EQ(item.history()[3].error, "Operation not permitted");
    EXPECT_EQ(item.history()[1].error, std::nullopt);
}

} // namespace
} // namespace varnu::sim
