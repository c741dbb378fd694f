#include "platform/linux/input/OtherDeviceAccess.h"

#include "tests/platform/linux/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Optional;

// An access ACL as the kernel stores it: version 2, then tag, permissions and id per entry.
std::vector<std::uint8_t> acl(std::initializer_list<std::array<std::uint32_t, 3>> entries) {
    std::vector<std::uint8_t> bytes{2, 0, 0, 0};
    for (auto [tag, permissions, id] : entries) {
        for (auto [value, size] : {std::pair{tag, 2}, {permissions, 2}, {id, 4}}) {
            for (int i = 0; i < size; ++i) {
                bytes.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
            }
        }
    }
    return bytes;
}

constexpr std::uint32_t kOwner = 0x01, kUser = 0x02, kGroupTag = 0x04, kMask = 0x10;
constexpr std::uint32_t kNoId = 0xFFFFFFFF;

TEST(OtherDeviceAccess, AclOpensOnlyToTheUserItNamesWithReadAndWrite) {
    auto seatUser =
        acl({{kOwner, 6, kNoId}, {kUser, 6, 1000}, {kGroupTag, 6, kNoId}, {kMask, 6, kNoId}});
    EXPECT_TRUE(aclGrantsReadWrite(seatUser, 1000));
    EXPECT_FALSE(aclGrantsReadWrite(seatUser, 1001));
    // An id that only matches in its low bytes is another user.
    EXPECT_FALSE(aclGrantsReadWrite(seatUser, 1000 + 0x10000));
    EXPECT_FALSE(aclGrantsReadWrite(acl({{kUser, 4, 1000}}), 1000));
    // The group's entry and the owner's name no user.
    EXPECT_FALSE(aclGrantsReadWrite(acl({{kOwner, 6, 1000}, {kGroupTag, 6, 1000}}), 1000));
    auto otherVersion = seatUser;
    otherVersion[0] = 1;
    EXPECT_FALSE(aclGrantsReadWrite(otherVersion, 1000));
    // A cut entry is not read.
    seatUser.resize(4 + 8 + 7);
    EXPECT_FALSE(aclGrantsReadWrite(seatUser, 1000));
}

TEST(OtherDeviceAccess, NamesTheRuleFilesThatGiveTheDeviceAsUdevReadsThem) {
    testing::TempDir dir;
    auto etc = dir.path() / "etc", lib = dir.path() / "lib";
    testing::writeText(lib / "60-steam-input.rules",
                       "# uinput, for the controller\n"
                       "KERNEL==\"uinput\", SUBSYSTEM==\"misc\", TAG+=\"uaccess\"\n");
    testing::writeText(lib / "60-ddcutil-i2c.rules",
                       "SUBSYSTEM==\"i2c-dev\", KERNEL==\"i2c-[0-9]*\", TAG+=\"uaccess\"\n");
    testing::writeText(lib / "70-tools.rules", "KERNEL==\"i2c-[0-9]*\", GROUP=\"i2c\"\n");
    // A comment gives nothing; a file in /etc hides the one of its name below it.
    testing::writeText(lib / "61-commented.rules", "# KERNEL==\"uinput\", TAG+=\"uaccess\"\n");
    testing::writeText(etc / "60-ddcutil-i2c.rules", "# switched off here\n");
    testing::writeText(lib / "59-not-rules.txt", "KERNEL==\"uinput\", TAG+=\"uaccess\"\n");
    std::vector<std::string> folders{etc.string(), (dir.path() / "none").string(), lib.string()};
    auto rulesGranting = [&](const std::string& device, const std::string& grant) {
        UdevRuleFiles rules;
        rules.refresh(folders);
        return rules.granting(device, grant);
    };

    EXPECT_THAT(rulesGranting("uinput", "uaccess"),
                ElementsAre((lib / "60-steam-input.rules").string()));
    EXPECT_THAT(rulesGranting("i2c", "uaccess"), IsEmpty());
    EXPECT_THAT(rulesGranting("i2c", "GROUP=\"i2c\""),
                ElementsAre((lib / "70-tools.rules").string()));

    // A lookup kept between refreshes sees a file go and another change.
    UdevRuleFiles kept;
    kept.refresh(folders);
    EXPECT_THAT(kept.granting("i2c", "uaccess"), IsEmpty());
    std::filesystem::remove(etc / "60-ddcutil-i2c.rules");
    EXPECT_THAT(rulesGranting("i2c", "uaccess"),
                ElementsAre((lib / "60-ddcutil-i2c.rules").string()));
    kept.refresh(folders);
    EXPECT_THAT(kept.granting("i2c", "uaccess"),
                ElementsAre((lib / "60-ddcutil-i2c.rules").string()));
    EXPECT_THAT(kept.granting("i2c", "GROUP=\"i2c\""),
                ElementsAre((lib / "70-tools.rules").string()));
    testing::writeText(lib / "70-tools.rules", "# KERNEL==\"i2c-[0-9]*\", GROUP=\"i2c\"\n");
    kept.refresh(folders);
    EXPECT_THAT(kept.granting("i2c", "GROUP=\"i2c\""), IsEmpty());
}

TEST(OtherDeviceAccess, TellsWhichHeldDevicesTheUserOpensAndSaysWhatThatMeans) {
    testing::TempDir dir;
    for (auto name : {"uinput", "i2c-3", "i2c-7", "input-event0"}) {
        testing::writeText(dir.path() / name, "");
    }
    OtherDeviceAccessPaths paths{dir.path().string(), {}};
    auto only = [](std::string opened) {
        return FileAccess{[](const std::string&) { return true; },
                          [opened](const std::string& path) { return path.ends_with(opened); },
                          [opened](const std::string& path) { return path.ends_with(opened); }};
    };
    auto none =
        FileAccess{[](const std::string&) { return true; }, [](const std::string&) { return true; },
                   [](const std::string&) { return false; }};
    EXPECT_THAT(otherDeviceAccess(HeldDevices::All, none, paths), IsEmpty());
    EXPECT_EQ(describeOtherDeviceAccess({}), std::nullopt);
    EXPECT_EQ(otherDeviceAccessNotice({}), std::nullopt);

    auto buses = otherDeviceAccess(HeldDevices::All, only("i2c-7"), paths);
    ASSERT_EQ(buses.size(), 1u);
    EXPECT_EQ(buses[0].node, (dir.path() / "i2c-7").string());
    EXPECT_THAT(otherDeviceAccess(HeldDevices::Uinput, only("i2c-7"), paths), IsEmpty());
    auto uinput = otherDeviceAccess(HeldDevices::Uinput, only("uinput"), paths);
    ASSERT_EQ(uinput.size(), 1u);
    EXPECT_THAT(otherDeviceAccess(HeldDevices::DisplayBuses, only("uinput"), paths), IsEmpty());

    OpenDevice byAcl{"/dev/uinput", OpenDevice::Through::Acl, "", {"/lib/60-steam-input.rules"}};
    OpenDevice byGroup{"/dev/i2c-3", OpenDevice::Through::Group, "i2c", {}};
    EXPECT_THAT(
        describeOtherDeviceAccess({byAcl, byGroup}),
        Optional(::testing::AllOf(HasSubstr("/dev/uinput by an ACL for the user at the seat"),
                                  HasSubstr("/dev/i2c-3 through the group i2c"),
                                  HasSubstr("given by /lib/60-steam-input.rules"))));
    auto notice = otherDeviceAccessNotice({byAcl, byGroup});
    ASSERT_TRUE(notice);
    EXPECT_THAT(notice->english, HasSubstr("/dev/uinput, /dev/i2c-3 (/lib/60-steam-input.rules)"));
    EXPECT_THAT(notice->german, HasSubstr("/dev/uinput, /dev/i2c-3 (/lib/60-steam-input.rules)"));
}

} // namespace
} // namespace varnu::linux_backend
