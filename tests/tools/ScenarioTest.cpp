#include "tools/varnu-sim/DemoScenario.h"
#include "tools/varnu-sim/ScenarioRunner.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::sim {
namespace {

const std::filesystem::path kScenarios = VARNU_SCENARIOS_DIR;

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

std::vector<std::string> scenarioNames() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(kScenarios)) {
        if (entry.path().extension() == ".scenario") {
            names.push_back(entry.path().stem().string());
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

class Scenario : public testing::TestWithParam<std::string> {};

TEST_P(Scenario, PlaysItsTrace) {
    const auto name = GetParam();
    std::ostringstream trace;
    const auto error = playScenario(readFile(kScenarios / (name + ".scenario")), trace);
    ASSERT_FALSE(error) << name << ".scenario line " << error->line << ": " << error->message;
    EXPECT_EQ(readFile(kScenarios / (name + ".trace")), trace.str()) << name;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, Scenario, testing::ValuesIn(scenarioNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             auto name = info.param;
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

TEST(DemoScenario, PlaysItsTrace) {
    std::ostringstream trace;
    const auto error = playScenario(demoScenario(), trace, std::string(demoSystemName()));
    ASSERT_FALSE(error) << "line " << error->line << ": " << error->message;
    EXPECT_EQ(readFile(kScenarios / "demo.trace"), trace.str());
}

} // namespace
} // namespace varnu::sim
