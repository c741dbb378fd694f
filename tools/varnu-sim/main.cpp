// varnu-sim: plays a scenario on the simulated platform and prints what Varnu does.

#include "tools/varnu-sim/DemoScenario.h"
#include "tools/varnu-sim/ScenarioRunner.h"

#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>

namespace {

constexpr std::string_view kUsage =
    "usage: varnu-sim [SCENARIO-FILE | - | --demo]\n"
    "Plays the scenario (from the file, or standard input when none or - is given) in virtual\n"
    "time and prints Varnu's trace. --demo plays the built-in demo scenario.\n";

} // namespace

int main(int argc, char** argv) {
    std::string text;
    std::string source = "standard input";
    std::string systemName; // the simulated platform's own
    const std::string_view argument = argc > 1 ? argv[1] : "-";
    if (argc > 2 || argument == "--help" || argument == "-h") {
        std::cerr << kUsage;
        return argc > 2 ? 2 : 0;
    }
    if (argument == "--demo") {
        text = varnu::sim::demoScenario();
        source = "demo";
        systemName = varnu::sim::demoSystemName();
    } else if (argument == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream file{std::string(argument)};
        if (!file) {
            std::cerr << "varnu-sim: cannot read " << argument << "\n";
            return 2;
        }
        std::ostringstream contents;
        contents << file.rdbuf();
        text = contents.str();
        source = argument;
    }

    const auto error = varnu::sim::playScenario(text, std::cout, systemName);
    std::cout.flush();
    if (error) {
        std::cerr << "varnu-sim: " << source << ", line " << error->line << ": " << error->message
                  << "\n";
        return 1;
    }
    return 0;
}
