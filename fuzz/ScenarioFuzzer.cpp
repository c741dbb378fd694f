// Scenario files of any content: the parser either reports a line that exists or gives
// commands that, written out again, parse to the same commands; and playing them on the
// simulated world ends with a result, never a crash, and never with a key that made a monitor
// jump.

#include "tools/varnu-sim/Scenario.h"
#include "tools/varnu-sim/ScenarioRunner.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

namespace {

using namespace varnu::sim;

std::string written(const std::vector<ScenarioCommand>& commands) {
    std::string text;
    for (const auto& command : commands) {
        text += command.name;
        for (const auto& word : command.arguments) {
            text += ' ';
            if (!word.quoted) {
                text += word.text;
                continue;
            }
            text += '"';
            for (char c : word.text) {
                if (c == '"' || c == '\\') {
                    text += '\\';
                }
                text += c;
            }
            text += '"';
        }
        text += '\n';
    }
    return text;
}

bool sameCommands(const std::vector<ScenarioCommand>& a, const std::vector<ScenarioCommand>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
        return x.name == y.name && x.arguments == y.arguments;
    });
}

// Virtual time still runs every timer due on the way, and a held key is pressed once per
// repeat, so a scenario that waits for hours or holds a key for thousands of presses costs real
// seconds without reaching anything new; those are parsed but not played.
constexpr double kLongestPlayedSeconds = 600;
constexpr double kMostPlayedPresses = 1000;

double number(const std::string& text) {
    return std::fabs(std::strtod(text.c_str(), nullptr));
}

bool withinBudget(const std::vector<ScenarioCommand>& commands) {
    double seconds = 0;
    double presses = 0;
    for (const auto& command : commands) {
        if (command.name == "wait" && command.arguments.size() == 1) {
            seconds += number(command.arguments[0].text);
        }
        if (command.name != "key") {
            continue;
        }
        double times = 1;
        double every = 0.033;
        for (const auto& word : command.arguments) {
            if (word.text.starts_with("times=")) {
                times = number(word.text.substr(6));
            } else if (word.text.starts_with("every=")) {
                every = number(word.text.substr(6));
            }
        }
        presses += times;
        seconds += times * every;
    }
    return seconds <= kLongestPlayedSeconds && presses <= kMostPlayedPresses;
}

class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto parsed = parseScenario(text);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    if (parsed.error) {
        if (parsed.error->line < 1 || parsed.error->line > lines || parsed.error->message.empty()) {
            std::abort();
        }
        return 0;
    }
    std::size_t previousLine = 0;
    for (const auto& command : parsed.commands) {
        if (command.name.empty() || command.line <= previousLine || command.line > lines) {
            std::abort();
        }
        previousLine = command.line;
    }
    const auto again = parseScenario(written(parsed.commands));
    if (again.error || !sameCommands(parsed.commands, again.commands)) {
        std::abort();
    }

    if (!withinBudget(parsed.commands)) {
        return 0;
    }
    NullBuffer discard;
    std::ostream trace(&discard);
    if (const auto error = playScenario(text, trace); error && error->jump) {
        std::fprintf(stderr, "line %zu: %s\n", error->line, error->message.c_str());
        std::abort();
    }
    return 0;
}
