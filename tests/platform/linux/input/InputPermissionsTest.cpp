#include "platform/linux/input/InputPermissions.h"

#include "platform/linux/files/PermissionsHelp.h"
#include "platform/linux/input/EvdevEventTap.h"
#include "platform/linux/input/TapDevices.h"
#include "platform/sim/SimScheduler.h"
#include "tests/platform/linux/TempDir.h"

#include <set>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace varnu::linux_backend {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr const char* kUinput = "/dev/uinput";
constexpr const char* kHelp = "/usr/share/varnu/help/permissions.html";
const std::vector<std::string> kKeyboards{"/dev/input/event3", "/dev/input/event4",
                                          "/dev/input/event9"};

TEST(InputPermissions, NamesWhatIsMissingAndHowToGrantItOnOneLine) {
    std::set<std::string> present, readable{"/dev/input/event4"}, writable;
    const auto check = [&](const std::vector<std::string>& keyboards) {
        const auto in = [](const std::set<std::string>& files) {
            return [&files](const std::string& path) { return files.contains(path); };
        };
        auto access =
            checkInputAccess(keyboards, kUinput, {in(present), in(readable), in(writable)});
        return std::pair(access.granted(), describeMissingAccess(access, kUinput, kHelp));
    };
    auto [granted, message] = check(kKeyboards);
    EXPECT_FALSE(granted);
    EXPECT_THAT(message.value_or(""), HasSubstr("/dev/input/event3 and 1 more"));
    EXPECT_THAT(message.value_or(""), HasSubstr("input group"));
    EXPECT_THAT(message.value_or(""), HasSubstr("modprobe uinput"));
    EXPECT_THAT(message.value_or(""), HasSubstr(kHelp));
    EXPECT_THAT(message.value_or(""), Not(HasSubstr("\n")));

    present.insert(kUinput);
    readable.insert(kKeyboards.begin(), kKeyboards.end());
    std::tie(granted, message) = check(kKeyboards);
    EXPECT_THAT(message.value_or(""),
                HasSubstr("cannot write /dev/uinput: install Varnu's udev rules"));
    EXPECT_THAT(message.value_or(""), Not(HasSubstr("input group")));

    writable.insert(kUinput);
    EXPECT_EQ(check(kKeyboards), std::pair(true, std::optional<std::string>()));
    // Keyboards plugged in later are taken then; none now is no reason to refuse.
    EXPECT_TRUE(check({}).first);
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
    EXPECT_EQ(service.createTap(kCGSessionEventTap, kCGHeadInsertEventTap, kCGEventTapOptionDefault,
                                eventMaskBit(kCGEventSystemDefined),
                                [](const TappedEvent&) { return TapDecision::Pass; }),
              nullptr);
}

TEST(OnceReporter, SaysEachProblemOnceWithTheDevicesControlCharactersEscaped) {
    std::ostringstream diagnostics;
    OnceReporter reporter(&diagnostics);
    reporter.report("event3:busy", "cannot take the volume keys of Keys\x1B[2J: busy");
    reporter.report("event3:busy", "cannot take the volume keys of Keys\x1B[2J: busy");
    EXPECT_EQ(diagnostics.str(), "varnu: cannot take the volume keys of Keys\\x1B[2J: busy\n");
}

TEST(PermissionsHelp, TheInstalledPageElseTheOneBesideTheProgramWhenOnlyThatExists) {
    testing::TempDir dir;
    const auto installed = (dir.path() / "share" / "permissions.html").string();
    const auto beside = (dir.path() / "build" / "permissions.html").string();
    EXPECT_EQ(permissionsHelpPage(installed, beside), installed) << "neither exists";
    testing::writeText(beside, "<html>");
    EXPECT_EQ(permissionsHelpPage(installed, beside), beside);
    EXPECT_EQ(permissionsHelpPage(installed, ""), installed);
    testing::writeText(installed, "<html>");
    EXPECT_EQ(permissionsHelpPage(installed, beside), installed);
    // Built from this tree, the page is found whether or not Varnu is installed.
    EXPECT_TRUE(std::filesystem::exists(permissionsHelpPage()));
}

} // namespace
} // namespace varnu::linux_backend
