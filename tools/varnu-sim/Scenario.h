#pragma once

// The text of a scenario: one command per line, words separated by blanks, "double-quoted"
// texts (a backslash keeps the next character as it is), and comments from # to the end of the
// line.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::sim {

struct ScenarioWord {
    std::string text;
    bool quoted = false;
    friend bool operator==(const ScenarioWord&, const ScenarioWord&) = default;
};

struct ScenarioCommand {
    std::size_t line = 0; // counted from 1
    std::string name;
    std::vector<ScenarioWord> arguments;
};

struct ScenarioError {
    std::size_t line = 0;
    std::string message;
    // The command was carried out, but a key made a monitor jump meanwhile.
    bool jump = false;
};

struct ParsedScenario {
    std::vector<ScenarioCommand> commands;
    std::optional<ScenarioError> error;
};

// The commands of the text, in order; the first malformed line ends the parse with an error.
ParsedScenario parseScenario(std::string_view text);

} // namespace varnu::sim
