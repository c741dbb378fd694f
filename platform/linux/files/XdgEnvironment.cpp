#include "platform/linux/files/XdgEnvironment.h"

#include <algorithm>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace varnu::linux_backend {

Environment processEnvironment() {
    return [](const std::string& name) -> std::optional<std::string> {
        if (const char* value = std::getenv(name.c_str())) {
            return std::string(value);
        }
        return std::nullopt;
    };
}

std::optional<std::string> nonEmptyVariable(const Environment& environment,
                                            const std::string& name) {
    auto value = environment ? environment(name) : std::nullopt;
    if (!value || value->empty()) {
        return std::nullopt;
    }
    return value;
}

std::vector<std::string> splitList(std::string_view text, char separator) {
    std::vector<std::string> entries;
    std::size_t start = 0;
    while (start <= text.size()) {
        const auto end = std::min(text.find(separator, start), text.size());
        if (end > start) {
            entries.emplace_back(text.substr(start, end - start));
        }
        start = end + 1;
    }
    return entries;
}

std::filesystem::path configHome(const Environment& environment) {
    if (auto configured = nonEmptyVariable(environment, "XDG_CONFIG_HOME")) {
        std::filesystem::path path(*configured);
        // Relative values are invalid and must be ignored.
        if (path.is_absolute()) {
            return path;
        }
    }
    if (auto home = nonEmptyVariable(environment, "HOME")) {
        return std::filesystem::path(*home) / ".config";
    }
    const long suggested = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(suggested > 0 ? static_cast<std::size_t>(suggested) : 16384, '\0');
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] != '\0') {
        return std::filesystem::path(found->pw_dir) / ".config";
    }
    return {};
}

std::vector<std::filesystem::path> configDirs(const Environment& environment) {
    std::vector<std::filesystem::path> dirs;
    if (auto configured = nonEmptyVariable(environment, "XDG_CONFIG_DIRS")) {
        for (const auto& entry : splitList(*configured, ':')) {
            std::filesystem::path path(entry);
            if (path.is_absolute()) {
                dirs.push_back(path);
            }
        }
    }
    if (dirs.empty()) {
        dirs.emplace_back("/etc/xdg");
    }
    return dirs;
}

} // namespace varnu::linux_backend
