#include "platform/linux/desktop/DesktopEntry.h"

namespace varnu::linux_backend {

namespace {

constexpr std::string_view kMainGroup = "[Desktop Entry]";
constexpr std::string_view kWhitespace = " \t";
// Characters that make an Exec argument need quoting.
constexpr std::string_view kReservedInExec = " \t\n\"'\\><~|&;$*?#()`";
// Characters that must be backslash-escaped inside a quoted Exec argument.
constexpr std::string_view kEscapedInQuotedExec = "\"`$\\";

std::string_view trim(std::string_view text) {
    const auto first = text.find_first_not_of(kWhitespace);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(kWhitespace);
    return text.substr(first, last - first + 1);
}

// Undoes the string-value escapes \s \n \t \r \\ (others, like "\;" in lists, stay).
std::string unescapeValue(std::string_view raw) {
    std::string result;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        if (raw[i] != '\\' || i + 1 == raw.size()) {
            result += raw[i];
            continue;
        }
        switch (raw[i + 1]) {
        case 's':
            result += ' ';
            break;
        case 'n':
            result += '\n';
            break;
        case 't':
            result += '\t';
            break;
        case 'r':
            result += '\r';
            break;
        case '\\':
            result += '\\';
            break;
        default:
            result += raw[i];
            result += raw[i + 1];
            break;
        }
        ++i;
    }
    return result;
}

std::string escapeValue(std::string_view text) {
    std::string result;
    for (char c : text) {
        switch (c) {
        case '\\':
            result += "\\\\";
            break;
        case '\n':
            result += "\\n";
            break;
        case '\t':
            result += "\\t";
            break;
        case '\r':
            result += "\\r";
            break;
        default:
            result += c;
            break;
        }
    }
    return result;
}

} // namespace

DesktopEntry DesktopEntry::parse(std::string_view contents) {
    DesktopEntry entry;
    bool inMainGroup = false;
    std::size_t start = 0;
    while (start < contents.size()) {
        auto end = contents.find('\n', start);
        if (end == std::string_view::npos) {
            end = contents.size();
        }
        auto line = contents.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const auto trimmed = trim(line);
        if (trimmed.empty() || trimmed.front() == '#') {
            continue;
        }
        if (trimmed.front() == '[') {
            inMainGroup = trimmed == kMainGroup;
            continue;
        }
        const auto equals = line.find('=');
        if (!inMainGroup || equals == std::string_view::npos) {
            continue;
        }
        const auto key = trim(line.substr(0, equals));
        // Localized variants ("Name[de]") never decide anything here.
        if (key.empty() || key.find('[') != std::string_view::npos) {
            continue;
        }
        // The first occurrence wins; a repeated key makes the file invalid anyway.
        entry.values_.try_emplace(std::string(key), unescapeValue(trim(line.substr(equals + 1))));
    }
    return entry;
}

std::optional<std::string> DesktopEntry::value(const std::string& key) const {
    const auto it = values_.find(key);
    if (it == values_.end()) {
        return std::nullopt;
    }
    return it->second;
}

std::optional<bool> DesktopEntry::boolean(const std::string& key) const {
    const auto text = value(key);
    if (text == "true") {
        return true;
    }
    if (text == "false") {
        return false;
    }
    return std::nullopt;
}

std::vector<std::string> DesktopEntry::list(const std::string& key) const {
    std::vector<std::string> entries;
    const auto text = value(key);
    if (!text) {
        return entries;
    }
    std::string current;
    for (std::size_t i = 0; i < text->size(); ++i) {
        const char c = (*text)[i];
        if (c == '\\' && i + 1 < text->size() && (*text)[i + 1] == ';') {
            current += ';';
            ++i;
        } else if (c == ';') {
            if (!current.empty()) {
                entries.push_back(current);
            }
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) {
        entries.push_back(current);
    }
    return entries;
}

std::string execValueForProgram(const std::filesystem::path& program) {
    const std::string path = program.string();
    std::string argument;
    if (path.find_first_of(kReservedInExec) == std::string::npos) {
        argument = path;
    } else {
        argument = "\"";
        for (char c : path) {
            if (kEscapedInQuotedExec.find(c) != std::string_view::npos) {
                argument += '\\';
            }
            argument += c;
        }
        argument += '"';
    }
    // '%' starts a field code, quoted or not.
    std::string withPercents;
    for (char c : argument) {
        withPercents += c;
        if (c == '%') {
            withPercents += '%';
        }
    }
    return escapeValue(withPercents);
}

} // namespace varnu::linux_backend
