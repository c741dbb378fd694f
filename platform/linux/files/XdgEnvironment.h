#pragma once

// The process environment as the session backends read it, and the XDG base directories.
// Implements: an injectable environment lookup, $XDG_CONFIG_HOME and $XDG_CONFIG_DIRS with their
// defaults, colon-separated lists.
// Does not implement: the data and cache directories, or anything of the XDG user-dirs file.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace varnu::linux_backend {

// Answers the value of an environment variable, or nothing when it is unset.
using Environment = std::function<std::optional<std::string>(const std::string& name)>;

// The environment of the running process.
Environment processEnvironment();

// The value of the variable, or nothing when it is unset or empty (an empty value counts as
// unset for every variable read here).
std::optional<std::string> nonEmptyVariable(const Environment& environment,
                                            const std::string& name);

// Splits at the separator and drops empty entries.
std::vector<std::string> splitList(std::string_view text, char separator);

// $XDG_CONFIG_HOME when it is an absolute path, else $HOME/.config (the home directory from the
// password database when $HOME is unset). Empty when no home directory can be found.
std::filesystem::path configHome(const Environment& environment);

// The absolute entries of $XDG_CONFIG_DIRS, most important first; /etc/xdg when there are none.
std::vector<std::filesystem::path> configDirs(const Environment& environment);

} // namespace varnu::linux_backend
