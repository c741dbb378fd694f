#include "tools/varnu-sim/Scenario.h"

namespace varnu::sim {

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

// The words of one line, or an error message.
std::optional<std::string> splitLine(std::string_view line, std::vector<ScenarioWord>& words) {
    std::size_t i = 0;
    while (i < line.size()) {
        if (isBlank(line[i])) {
            ++i;
            continue;
        }
        if (line[i] == '#') {
            break;
        }
        ScenarioWord word;
        if (line[i] == '"') {
            word.quoted = true;
            ++i;
            bool closed = false;
            while (i < line.size()) {
                const char c = line[i++];
                if (c == '"') {
                    closed = true;
                    break;
                }
                if (c == '\\' && i < line.size()) {
                    word.text += line[i++];
                } else {
                    word.text += c;
                }
            }
            if (!closed) {
                return "unterminated text";
            }
            if (i < line.size() && !isBlank(line[i]) && line[i] != '#') {
                return "a text must be followed by a blank";
            }
        } else {
            while (i < line.size() && !isBlank(line[i]) && line[i] != '"') {
                word.text += line[i++];
            }
            if (i < line.size() && line[i] == '"') {
                return "a text must follow a blank";
            }
        }
        words.push_back(std::move(word));
    }
    return std::nullopt;
}

} // namespace

ParsedScenario parseScenario(std::string_view text) {
    ParsedScenario parsed;
    std::size_t lineNumber = 0;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        ++lineNumber;
        std::vector<ScenarioWord> words;
        if (auto error = splitLine(text.substr(start, end - start), words)) {
            parsed.error = ScenarioError{lineNumber, *error};
            return parsed;
        }
        if (!words.empty()) {
            if (words.front().quoted) {
                parsed.error = ScenarioError{lineNumber, "a command cannot be a text"};
                return parsed;
            }
            ScenarioCommand command{lineNumber, std::move(words.front().text), {}};
            command.arguments.assign(std::make_move_iterator(words.begin() + 1),
                                     std::make_move_iterator(words.end()));
            parsed.commands.push_back(std::move(command));
        }
        if (end == text.size()) {
            break;
        }
        start = end + 1;
    }
    return parsed;
}

} // namespace varnu::sim
