#include "platform/linux/XdgAutostart.h"

#include "tests/platform/linux/TempDir.h"

#include <map>
#include <sys/stat.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using testing::readText;
using testing::TempDir;
using testing::writeText;

constexpr const char* kPlainEntry = "[Desktop Entry]\nType=Application\nName=Varnu\n"
                                    "Exec=/usr/bin/varnu\n";

class XdgAutostartTest : public ::testing::Test {
protected:
    XdgAutostartTest() {
        variables["XDG_CONFIG_HOME"] = (dir.path() / "home-config").string();
        variables["XDG_CONFIG_DIRS"] =
            (dir.path() / "vendor").string() + ":" + (dir.path() / "etc-xdg").string();
        variables["XDG_CURRENT_DESKTOP"] = "ubuntu:GNOME";
        variables["PATH"] = (dir.path() / "bin").string();
    }

    XdgAutostart autostart(std::filesystem::path program = "/opt/varnu/bin/varnu") {
        return XdgAutostart(program, [this](const std::string& name) -> std::optional<std::string> {
            const auto it = variables.find(name);
            return it == variables.end() ? std::nullopt : std::optional(it->second);
        });
    }

    std::filesystem::path userEntry() const {
        return dir.path() / "home-config" / "autostart" / "varnu.desktop";
    }
    std::filesystem::path systemEntry(const char* folder = "etc-xdg") const {
        return dir.path() / folder / "autostart" / "varnu.desktop";
    }
    LoginItemStatus statusWithUserEntry(const std::string& extraLines) {
        writeText(userEntry(), kPlainEntry + extraLines);
        return autostart().status();
    }

    TempDir dir;
    std::map<std::string, std::string> variables;
};

TEST_F(XdgAutostartTest, RegisterWritesAnEnabledEntryAndUnregisterRemovesIt) {
    auto item = autostart();
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(readText(userEntry()), "[Desktop Entry]\nType=Application\nName=Varnu\n"
                                     "Exec=/opt/varnu/bin/varnu\n"
                                     "X-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    // Registering again over a disabled entry enables it.
    writeText(userEntry(), std::string(kPlainEntry) + "Hidden=true\n");
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);

    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(userEntry()));
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt) << "nothing to remove is no failure";
}

TEST_F(XdgAutostartTest, UnregisterHidesASystemWideEntryInsteadOfRemovingIt) {
    writeText(systemEntry(), kPlainEntry);
    auto item = autostart();
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled) << "the system's entry is in force";
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_EQ(DesktopEntry::parse(readText(userEntry())).boolean("Hidden"), true);
    EXPECT_EQ(readText(systemEntry()), kPlainEntry);
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

TEST_F(XdgAutostartTest, TheEntryInForceDecidesAndItsKeysCanDisableIt) {
    // The user's entry wins over the system's, and the first system folder over the next.
    writeText(systemEntry("vendor"), std::string(kPlainEntry) + "Hidden=true\n");
    writeText(systemEntry("etc-xdg"), kPlainEntry);
    EXPECT_EQ(autostart().status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry(""), LoginItemStatus::Enabled);
    std::filesystem::remove(systemEntry("vendor"));
    EXPECT_EQ(statusWithUserEntry("Hidden=true\n"), LoginItemStatus::NotRegistered);
    std::filesystem::remove(userEntry());
    EXPECT_EQ(autostart().status(), LoginItemStatus::Enabled);

    EXPECT_EQ(statusWithUserEntry("Hidden=false\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("X-GNOME-Autostart-enabled=false\n"),
              LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("X-GNOME-Autostart-enabled=true\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("[Other Group]\nHidden=true\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("# Hidden=true\n"), LoginItemStatus::Enabled);

    // The desktop lists against $XDG_CURRENT_DESKTOP = ubuntu:GNOME.
    EXPECT_EQ(statusWithUserEntry("OnlyShowIn=KDE;XFCE;\n"), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("OnlyShowIn=KDE;GNOME;\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("NotShowIn=GNOME;\n"), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("NotShowIn=KDE;\n"), LoginItemStatus::Enabled);
    variables.erase("XDG_CURRENT_DESKTOP");
    EXPECT_EQ(statusWithUserEntry("OnlyShowIn=GNOME;\n"), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("NotShowIn=GNOME;\n"), LoginItemStatus::Enabled);

    // TryExec: an absolute path, or a name searched in $PATH.
    const auto tool = dir.path() / "bin" / "varnu-helper";
    writeText(tool, "#!/bin/sh\n");
    EXPECT_EQ(statusWithUserEntry("TryExec=varnu-helper\n"), LoginItemStatus::NotRegistered)
        << "not executable";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    EXPECT_EQ(statusWithUserEntry("TryExec=varnu-helper\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("TryExec=" + tool.string() + "\n"), LoginItemStatus::Enabled);
    EXPECT_EQ(statusWithUserEntry("TryExec=varnu-missing\n"), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("TryExec=" + (dir.path() / "nowhere").string() + "\n"),
              LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry("TryExec=" + (dir.path() / "bin").string() + "\n"),
              LoginItemStatus::NotRegistered)
        << "a folder is no program";
}

TEST_F(XdgAutostartTest, ExecQuotesTheProgramPathAndFailuresCarryTheSystemsMessage) {
    auto item = autostart("/opt/My Apps/va$rnu \"100%\"\\bin");
    EXPECT_EQ(item.registerItem(), std::nullopt);
    const auto entry = DesktopEntry::parse(readText(userEntry()));
    // Quoted, with " ` $ \ escaped by a backslash, '%' doubled; then the backslashes escaped
    // once more as a string value (undone by the parser).
    EXPECT_EQ(entry.value("Exec"), R"("/opt/My Apps/va\$rnu \"100%%\"\\bin")");
    EXPECT_EQ(execValueForProgram("/usr/bin/varnu"), "/usr/bin/varnu");

    // A file where the autostart folder should be.
    writeText(dir.path() / "blocked", "x");
    variables["XDG_CONFIG_HOME"] = (dir.path() / "blocked").string();
    const auto failure = autostart().registerItem();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->localizedDescription, "Not a directory");

    EXPECT_TRUE(autostart("relative/varnu").registerItem()) << "Exec must be absolute";
}

TEST(DesktopEntry, ReadsTheMainGroupLikeTheFormatSays) {
    const auto entry = DesktopEntry::parse("# comment\n"
                                           "[Desktop Entry]\r\n"
                                           "Name = Varnu \n"
                                           "Name[de]=Varnü\n"
                                           "Comment=one\\stwo\\nthree\\\\\n"
                                           "OnlyShowIn=A;B\\;C;;D\n"
                                           "Hidden=True\n"
                                           "[Desktop Action x]\n"
                                           "Exec=other\n");
    EXPECT_EQ(entry.value("Name"), "Varnu");
    EXPECT_EQ(entry.value("Comment"), "one two\nthree\\");
    EXPECT_EQ(entry.list("OnlyShowIn"), (std::vector<std::string>{"A", "B;C", "D"}));
    EXPECT_EQ(entry.boolean("Hidden"), std::nullopt) << "Booleans are lower case";
    EXPECT_EQ(entry.value("Exec"), std::nullopt) << "other groups do not count";
}

TEST(RunningProgramPath, IsAnAbsolutePathToThisExecutable) {
    const auto path = runningProgramPath();
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(std::filesystem::exists(path));
}

} // namespace
} // namespace varnu::linux_backend
