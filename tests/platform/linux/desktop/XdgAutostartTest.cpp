#include "platform/linux/desktop/XdgAutostart.h"

#include "platform/linux/files/SmallFile.h"
#include "tests/platform/linux/TempDir.h"

#include <fcntl.h>
#include <future>
#include <map>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using namespace std::chrono_literals;
using testing::readText;
using testing::writeText;

constexpr const char* kPlainEntry = "[Desktop Entry]\nType=Application\nName=Varnu\n"
                                    "Exec=/usr/bin/varnu\n";

// A program the tests may name in an entry.
void makeProgram(const std::filesystem::path& path) {
    writeText(path, "#!/bin/sh\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
}

class XdgAutostartTest : public ::testing::Test {
protected:
    XdgAutostartTest() { makeProgram(program); }

    XdgAutostart autostart(std::filesystem::path running = {}) {
        ProgramPlaces places{installed,
                             [running = running.empty() ? program : running] { return running; }};
        return XdgAutostart(places, [this](const std::string& name) -> std::optional<std::string> {
            const auto it = variables.find(name);
            return it == variables.end() ? std::nullopt : std::optional(it->second);
        });
    }
    std::filesystem::path entry(const std::string& folder = "home-config") const {
        return dir.path() / folder / "autostart" / "varnu.desktop";
    }
    LoginItemStatus statusWithUserEntry(const std::string& extraLines) {
        writeText(entry(), kPlainEntry + extraLines);
        return autostart().status();
    }

    testing::TempDir dir;
    std::filesystem::path program = dir.path() / "build" / "varnu";
    std::filesystem::path installed = dir.path() / "usr" / "bin" / "varnu";
    std::map<std::string, std::string> variables{
        {"XDG_CONFIG_HOME", (dir.path() / "home-config").string()},
        {"XDG_CONFIG_DIRS", (dir.path() / "vendor").string() + ":" + (dir.path() / "etc").string()},
        {"XDG_CURRENT_DESKTOP", "ubuntu:GNOME"},
        {"PATH", (dir.path() / "bin").string()}};
};

TEST_F(XdgAutostartTest, RegisterWritesAnEnabledEntryAndUnregisterRemovesOrHidesIt) {
    auto item = autostart();
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(readText(entry()), "[Desktop Entry]\nType=Application\nName=Varnu\nExec=" +
                                     program.string() + "\nX-GNOME-Autostart-enabled=true\n");
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    const mode_t umask = ::umask(0);
    ::umask(umask);
    EXPECT_EQ(std::filesystem::status(entry()).permissions(), std::filesystem::perms(0644 & ~umask))
        << "the mode asked for, not a temporary file's";
    // Registering again over a disabled entry enables it.
    writeText(entry(), std::string(kPlainEntry) + "Hidden=true\n");
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_FALSE(std::filesystem::exists(entry()));
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.unregisterItem(), std::nullopt) << "nothing to remove is no failure";

    // A system-wide entry is hidden by a user entry, never touched.
    writeText(entry("etc"), kPlainEntry);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled) << "the system's entry is in force";
    EXPECT_EQ(item.unregisterItem(), std::nullopt);
    EXPECT_EQ(DesktopEntry::parse(readText(entry())).boolean("Hidden"), true);
    EXPECT_EQ(readText(entry("etc")), kPlainEntry);
    EXPECT_EQ(item.status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(item.registerItem(), std::nullopt);
    EXPECT_EQ(item.status(), LoginItemStatus::Enabled);
}

TEST_F(XdgAutostartTest, TheEntryInForceDecidesAndItsKeysCanDisableIt) {
    // The user's entry wins over the system's, and the first system folder over the next.
    writeText(entry("vendor"), std::string(kPlainEntry) + "Hidden=true\n");
    writeText(entry("etc"), kPlainEntry);
    EXPECT_EQ(autostart().status(), LoginItemStatus::NotRegistered);
    EXPECT_EQ(statusWithUserEntry(""), LoginItemStatus::Enabled);
    std::filesystem::remove(entry("vendor"));
    EXPECT_EQ(statusWithUserEntry("Hidden=true\n"), LoginItemStatus::NotRegistered);
    std::filesystem::remove(entry());
    EXPECT_EQ(autostart().status(), LoginItemStatus::Enabled);

    const auto tool = dir.path() / "bin" / "varnu-helper";
    writeText(tool, "#!/bin/sh\n");
    EXPECT_EQ(statusWithUserEntry("TryExec=varnu-helper\n"), LoginItemStatus::NotRegistered)
        << "not executable";
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);

    constexpr auto on = LoginItemStatus::Enabled;
    constexpr auto off = LoginItemStatus::NotRegistered;
    const std::pair<std::string, LoginItemStatus> cases[] = {
        {"Hidden=false\n", on},
        {"X-GNOME-Autostart-enabled=false\n", off},
        {"X-GNOME-Autostart-enabled=true\n", on},
        // The desktop lists against $XDG_CURRENT_DESKTOP = ubuntu:GNOME.
        {"OnlyShowIn=KDE;XFCE;\n", off},
        {"OnlyShowIn=KDE;GNOME;\n", on},
        {"NotShowIn=GNOME;\n", off},
        {"NotShowIn=KDE;\n", on},
        // TryExec: an absolute path, or a name searched in $PATH; a folder is no program.
        {"TryExec=varnu-helper\n", on},
        {"TryExec=" + tool.string() + "\n", on},
        {"TryExec=varnu-missing\n", off},
        {"TryExec=" + (dir.path() / "nowhere").string() + "\n", off},
        {"TryExec=" + (dir.path() / "bin").string() + "\n", off},
    };
    for (const auto& [lines, expected] : cases) {
        EXPECT_EQ(statusWithUserEntry(lines), expected) << lines;
    }
    variables.erase("XDG_CURRENT_DESKTOP");
    EXPECT_EQ(statusWithUserEntry("OnlyShowIn=GNOME;\n"), off);
    EXPECT_EQ(statusWithUserEntry("NotShowIn=GNOME;\n"), on);
    // Unreadable entries: a file too large for an entry, and a pipe, which must not stop the
    // main thread waiting for a writer.
    EXPECT_EQ(statusWithUserEntry("#" + std::string(kLargestSmallFile, ' ') + "\n"), off);
    std::filesystem::remove(entry());
    ASSERT_EQ(::mkfifo(entry().c_str(), 0600), 0);
    auto status = std::async(std::launch::async, [&] { return autostart().status(); });
    if (status.wait_for(10s) == std::future_status::timeout) {
        ::close(::open(entry().c_str(), O_WRONLY | O_NONBLOCK));
        ADD_FAILURE() << "waited for someone to write to a pipe";
    }
    EXPECT_EQ(status.get(), off);
}

TEST_F(XdgAutostartTest, ExecQuotesTheProgramPathAndFailuresCarryTheSystemsMessage) {
    const auto odd = dir.path() / "My Apps" / "va$rnu \"100%\"\\bin";
    makeProgram(odd);
    EXPECT_EQ(autostart(odd).registerItem(), std::nullopt);
    // Quoted, with " ` $ \ escaped by a backslash, '%' doubled; then the backslashes escaped
    // once more as a string value (undone by the parser).
    EXPECT_EQ(DesktopEntry::parse(readText(entry())).value("Exec"),
              "\"" + dir.path().string() + R"(/My Apps/va\$rnu \"100%%\"\\bin")");
    EXPECT_EQ(execValueForProgram("/usr/bin/varnu"), "/usr/bin/varnu");

    writeText(dir.path() / "blocked", "x");
    variables["XDG_CONFIG_HOME"] = (dir.path() / "blocked").string();
    const auto failure = autostart().registerItem();
    ASSERT_TRUE(failure);
    EXPECT_EQ(failure->localizedDescription, "Not a directory");
}

TEST_F(XdgAutostartTest, ExecNamesAProgramThatOutlivesUpgradesAndOnlyTheUserCanChange) {
    // A folder anyone may write, and a link into it from a folder of the user's.
    const auto shared = dir.path() / "shared";
    makeProgram(shared / "varnu");
    std::filesystem::permissions(shared, std::filesystem::perms::all);
    std::filesystem::create_directory_symlink(shared, dir.path() / "link");
    struct Case {
        std::string name;
        std::filesystem::path running;
        std::string exec; // empty: refused, with this in the reason
        std::string reason = {};
    };
    std::vector<Case> cases{
        {"a build of the user's", program, program.string()},
        {"replaced at its path by an upgrade", program.string() + " (deleted)", program.string()},
        {"removed", dir.path() / "gone (deleted)", "", (dir.path() / "gone").string() + " is gone"},
        {"relative", "build/varnu", "", "is gone"},
        {"in a folder anyone may write", shared / "varnu", "", shared.string() + ", on the way"},
        {"reached through a link into it", dir.path() / "link" / "varnu", "", shared.string()},
    };
    if (::geteuid() == 0) {
        // Root can make what another user or group could change.
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        const auto team = dir.path() / "team";
        makeProgram(team / "varnu");
        ASSERT_EQ(::chown(team.c_str(), 0, nobody->pw_gid), 0);
        std::filesystem::permissions(team, std::filesystem::perms::group_write,
                                     std::filesystem::perm_options::add);
        const auto theirs = dir.path() / "theirs" / "varnu";
        makeProgram(theirs);
        ASSERT_EQ(::chown(theirs.c_str(), nobody->pw_uid, 0), 0);
        cases.push_back({"in a folder another group may write", team / "varnu", "", team.string()});
        cases.push_back({"owned by another user", theirs, "", theirs.string()});
    }
    const auto exec = [&](const std::filesystem::path& running) -> std::string {
        std::filesystem::remove(entry());
        if (auto failure = autostart(running).registerItem()) {
            EXPECT_FALSE(std::filesystem::exists(entry()));
            return "refused: " + failure->localizedDescription;
        }
        return DesktopEntry::parse(readText(entry())).value("Exec").value_or("");
    };
    for (const auto& [name, running, expected, reason] : cases) {
        const auto result = exec(running);
        if (expected.empty()) {
            EXPECT_TRUE(result.starts_with("refused: ") && result.find(reason) != std::string::npos)
                << name << ": " << result;
        } else {
            EXPECT_EQ(result, expected) << name;
        }
    }
    // Where no path will do, "varnu" on $PATH does, if it is the user's too.
    makeProgram(dir.path() / "bin" / "varnu");
    EXPECT_EQ(exec(shared / "varnu"), "varnu");
    // The installed program wins, whichever runs.
    makeProgram(installed);
    for (const auto& running :
         {program, shared / "varnu", std::filesystem::path(installed.string() + " (deleted)")}) {
        EXPECT_EQ(exec(running), installed.string()) << running;
    }
}

TEST(DesktopEntry, ReadsTheMainGroupLikeTheFormatSays) {
    const auto entry = DesktopEntry::parse("# comment\n[Desktop Entry]\r\nName = Varnu \n"
                                           "Name[de]=Varnü\nComment=one\\stwo\\nthree\\\\\n"
                                           "OnlyShowIn=A;B\\;C;;D\nHidden=True\n"
                                           "[Desktop Action x]\nExec=other\n");
    EXPECT_EQ(entry.value("Name"), "Varnu");
    EXPECT_EQ(entry.value("Comment"), "one two\nthree\\");
    EXPECT_EQ(entry.list("OnlyShowIn"), (std::vector<std::string>{"A", "B;C", "D"}));
    EXPECT_EQ(entry.boolean("Hidden"), std::nullopt) << "Booleans are lower case";
    EXPECT_EQ(entry.value("Exec"), std::nullopt) << "other groups do not count";
}

TEST(RunningProgramPath, IsAnAbsolutePathToThisExecutable) {
    EXPECT_TRUE(runningProgramPath().is_absolute());
    EXPECT_TRUE(std::filesystem::exists(runningProgramPath()));
}

} // namespace
} // namespace varnu::linux_backend
