#include "ddc/VCP.h"
#include "tools/varnu-sim/Scenario.h"
#include "tools/varnu-sim/ScenarioRunner.h"

#include <sstream>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

TEST(ScenarioParser, SplitsWordsTextsAndComments) {
    const auto parsed = parseScenario("# a comment line\n"
                                      "\n"
                                      "output dell \"DELL \\\"U2723QE\\\"\" native  # trailing\n"
                                      "\tkey up shift\r\n"
                                      "store language \"\"\n"
                                      "monitor \"Desk #2\"");
    ASSERT_FALSE(parsed.error);
    ASSERT_EQ(parsed.commands.size(), 4u);

    EXPECT_EQ(parsed.commands[0].line, 3u);
    EXPECT_EQ(parsed.commands[0].name, "output");
    EXPECT_EQ(parsed.commands[0].arguments,
              (std::vector<ScenarioWord>{
                  {"dell", false}, {"DELL \"U2723QE\"", true}, {"native", false}}));
    EXPECT_EQ(parsed.commands[1].line, 4u);
    EXPECT_EQ(parsed.commands[1].arguments,
              (std::vector<ScenarioWord>{{"up", false}, {"shift", false}}));
    // An empty text is still a word, and a # inside a text is not a comment.
    EXPECT_EQ(parsed.commands[2].arguments,
              (std::vector<ScenarioWord>{{"language", false}, {"", true}}));
    EXPECT_EQ(parsed.commands[3].line, 6u);
    EXPECT_EQ(parsed.commands[3].arguments, (std::vector<ScenarioWord>{{"Desk #2", true}}));
}

TEST(ScenarioParser, ReportsTheLineOfMalformedText) {
    auto parsed = parseScenario("launch\nmonitor \"DELL\n");
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->line, 2u);

    parsed = parseScenario("monitor \"DELL\"x");
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->line, 1u);

    parsed = parseScenario("\n\n\"launch\"");
    ASSERT_TRUE(parsed.error);
    EXPECT_EQ(parsed.error->line, 3u);
}

TEST(ScenarioRunner, StopsAtTheFirstCommandItCannotCarryOut) {
    struct Case {
        const char* scenario;
        std::size_t line;
    };
    for (const auto& [scenario, line] : {
             Case{"launch\nfly away\nlaunch", 2},
             Case{"menu", 1},                            // not launched yet
             Case{"launch\nlaunch", 2},                  // already running
             Case{"output a \"A\"\nunplug b", 2},        // no such output
             Case{"monitor \"M\" volume=70000", 1},      // not a 16-bit value
             Case{"store step five", 1},                 // texts need quotes
             Case{"launch\nkey left", 2},                // not a volume key
             Case{"launch\nwait -1", 2},                 // time only moves on
             Case{"launch\nwait 1e300", 2},              // no overflow into the past
             Case{"launch\nwait 86401", 2},              // at most a day at a time
             Case{"launch\nquit\nmenu", 3},              // nothing runs after quitting
             Case{"launch\nmenu-choose \"Nothing\"", 2}, // no such item
             Case{"launch\nuser set volume 5", 2},       // not a setting
             Case{"trusted maybe", 1},
             Case{"launch\nkey up times=2 every=1e300", 2},
             Case{"monitor \"M\"\nbuttons \"N\" volume=5", 2}, // no such monitor
             Case{"monitor \"M\"\nbuttons \"M\" volume=70000", 2},
         }) {
        std::ostringstream trace;
        const auto error = playScenario(scenario, trace);
        ASSERT_TRUE(error) << scenario;
        EXPECT_EQ(error->line, line) << scenario;
    }
}

TEST(ScenarioRunner, StopsAtAKeyThatMakesAMonitorJump) {
    std::ostringstream trace;
    ScenarioWorld world(trace);
    ASSERT_FALSE(playCommands(parseScenario("output dell \"DELL U2723QE\"\n"
                                            "monitor \"DELL U2723QE\"\n"
                                            "launch\n"
                                            "wait 1")
                                  .commands,
                              world));
    // Turned behind everyone's back, as no command can: Varnu goes on from the 50 it read.
    world.monitor(1)->setControl(kVCPAudioSpeakerVolume, {10, 100});
    const auto error = playCommands(parseScenario("\n\nkey up\nwait 1").commands, world);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->jump);
    EXPECT_EQ(error->line, 3u);
    EXPECT_EQ(error->message,
              "a jump: key up sent 56 to monitor #1, which played 10 (the step is 6)");
}

} // namespace
} // namespace varnu::sim
