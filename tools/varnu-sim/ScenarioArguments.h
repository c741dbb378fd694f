#pragma once

// Reading a scenario command's arguments.
// Implements: counting them, numbers, fixed choices, 16-bit VCP values, and the options of the
// commands that take many (a monitor's controls and faults, a key's modifiers and repeats);
// each failure ends the command with a message that names it.
// Does not implement: carrying the command out (ScenarioRunner).

#include "tools/varnu-sim/Scenario.h"
#include "tools/varnu-sim/ScenarioWorld.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace varnu::sim {

// Thrown inside the runner only, to end a command with a message; never crosses its boundary.
struct CommandError {
    std::string message;
};

[[noreturn]] void fail(std::string message);

std::optional<std::int64_t> parseInteger(const std::string& text);
std::optional<double> parseReal(const std::string& text);

// Virtual time still runs every timer due on the way, and far larger numbers would not fit in
// milliseconds.
constexpr double kLongestWaitSeconds = 24 * 60 * 60;

// A key press as the user repeats it.
struct HeldPress {
    KeyPress press;
    std::int64_t times = 1;
    // A held key repeats about 30 times a second.
    std::chrono::milliseconds every{33};
};

class CommandArguments {
public:
    explicit CommandArguments(const ScenarioCommand& command)
        : command_(command) {}

    const std::vector<ScenarioWord>& all() const { return command_.arguments; }
    std::size_t size() const { return command_.arguments.size(); }
    bool empty() const { return command_.arguments.empty(); }

    void expectCount(std::size_t minimum, std::size_t maximum) const;
    const std::string& word(std::size_t index) const { return all().at(index).text; }
    std::int64_t integer(std::size_t index) const;
    double real(std::size_t index) const;
    bool choice(std::size_t index, const std::string& yes, const std::string& no) const;

    // monitor NAME [internal|no-osd|refuse-writes|refuse-reads|corrupt-replies|volume=N|...]
    MonitorOptions monitorOptions() const;
    // key up|down|mute [shift|option|control|release|times=N|every=SECONDS]
    HeldPress keyPress() const;

private:
    const ScenarioCommand& command_;
};

} // namespace varnu::sim
