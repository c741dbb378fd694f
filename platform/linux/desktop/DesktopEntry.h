#pragma once

// The few parts of the freedesktop.org Desktop Entry format the autostart entry needs.
// Implements: reading the keys of the [Desktop Entry] group (comments, other groups and
// localized keys skipped; string escapes undone), lists separated by ';', Boolean values, and
// writing an Exec value that runs one program path with no arguments.
// Does not implement: localized values, actions, field codes beyond escaping '%'.

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::linux_backend {

class DesktopEntry {
public:
    static DesktopEntry parse(std::string_view contents);

    std::optional<std::string> value(const std::string& key) const;
    // "true" is true, "false" false, anything else (or absence) nothing.
    std::optional<bool> boolean(const std::string& key) const;
    // A ';'-separated list ("GNOME;KDE;"), escaped semicolons kept in their entry.
    std::vector<std::string> list(const std::string& key) const;

private:
    std::map<std::string, std::string, std::less<>> values_;
};

// The Exec value (already escaped as a desktop-entry string) that runs the program.
std::string execValueForProgram(const std::filesystem::path& program);

} // namespace varnu::linux_backend
