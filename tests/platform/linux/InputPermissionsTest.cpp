#include "platform/linux/InputPermissions.h"

#include "platform/linux/EvdevEventTap.h"
#include "platform/linux/PermissionsHelp.h"
#include "platform/sim/SimScheduler.h"
#include "tests/platform/linux/TempDir.h"

#include <set>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

struct FakeFiles {
    std::set<std::string> present, readable, writable;

    FileAccess access() const {
        return {[this](const std::string& path) { return present.contains(path); },
                [this](const std::string& path) { return readable.contains(path); },
                [this](const std::string& path) { return writable.contains(path); }};
    }
};

constexpr const char* kUinput = "/dev/uinput";
constexpr const char* kHelp = "/usr/share/varnu/help/permissions.html";
const std::vector<std::string> kKeyboards{"/dev/input/event3", "/dev/input/event4",
                                          "/dev/input/event9"};

TEST(InputPermissions, GrantedWhenEveryKeyboardIsReadableAndUinputWritable) {
    FakeFiles files{{kUinput}, {kKeyboards.begin(), kKeyboards.end()}, {kUinput}};
    auto access = checkInputAccess(kKeyboards, kUinput, files.access());
    EXPECT_TRUE(access.granted());
    EXPECT_EQ(describeMissingAccess(access, kUinput, kHelp), std::nullopt);
    // Keyboards plugged in later are taken then; none now is no reason to refuse.
    EXPECT_TRUE(checkInputAccess({}, kUinput, files.access()).granted());
}

TEST(InputPermissions, NamesWhatIsMissingAndHowToGrantItOnOneLine) {
    FakeFiles files{{}, {"/dev/input/event4"}, {}};
    auto access = checkInputAccess(kKeyboards, kUinput, files.access());
    EXPECT_FALSE(access.granted());
    auto message = describeMissingAccess(access, kUinput, kHelp).value_or("");
    EXPECT_THAT(message, HasSubstr("/dev/input/event3 and 1 more"));
    EXPECT_THAT(message, HasSubstr("input group"));
    EXPECT_THAT(message, HasSubstr("modprobe uinput"));
    EXPECT_THAT(message, HasSubstr(kHelp));
    EXPECT_THAT(message, Not(HasSubstr("\n")));

    files.present.insert(kUinput);
    files.readable.insert(kKeyboards.begin(), kKeyboards.end());
    access = checkInputAccess(kKeyboards, kUinput, files.access());
    message = describeMissingAccess(access, kUinput, kHelp).value_or("");
    EXPECT_THAT(message, HasSubstr("cannot write /dev/uinput: install Varnu's udev rules"));
    EXPECT_THAT(message, Not(HasSubstr("input group")));
}

TEST(EvdevEventTapService, WithoutUinputIsNotTrustedSaysSoOnceAndMakesNoTap) {
    std::ostringstream diagnostics;
    EvdevEventTapService service(sim::SimScheduler::create(),
                                 {"/nonexistent/varnu/uinput", "help.html"}, &diagnostics);
    EXPECT_FALSE(service.isProcessTrusted(false));
    EXPECT_EQ(diagnostics.str(), "");
    EXPECT_FALSE(service.isProcessTrusted(true));
    EXPECT_FALSE(service.isProcessTrusted(true));
    auto text = diagnostics.str();
    EXPECT_THAT(text, HasSubstr("/nonexistent/varnu/uinput does not exist"));
    EXPECT_THAT(text, HasSubstr("help.html"));
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);

    auto tap = service.createTap(kCGSessionEventTap, kCGHeadInsertEventTap,
                                 kCGEventTapOptionDefault, eventMaskBit(kCGEventSystemDefined),
                                 [](const TappedEvent&) { return TapDecision::Pass; });
    EXPECT_EQ(tap, nullptr);
}

TEST(PermissionsHelp, TheInstalledPageElseTheSourceTreesWhenOnlyThatExists) {
    testing::TempDir dir;
    const auto installed = (dir.path() / "share" / "permissions.html").string();
    const auto source = (dir.path() / "packaging" / "permissions.html").string();
    EXPECT_EQ(permissionsHelpPage(installed, source), installed) << "neither exists";
    testing::writeText(source, "<html>");
    EXPECT_EQ(permissionsHelpPage(installed, source), source);
    EXPECT_EQ(permissionsHelpPage(installed, ""), installed);
    testing::writeText(installed, "<html>");
    EXPECT_EQ(permissionsHelpPage(installed, source), installed);
    // Built from this tree, the page is found whether or not Varnu is installed.
    EXPECT_TRUE(std::filesystem::exists(permissionsHelpPage()));
}

} // namespace
} // namespace varnu::linux_backend
