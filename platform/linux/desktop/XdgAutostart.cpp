#include "platform/linux/desktop/XdgAutostart.h"

#include "platform/linux/files/AtomicFile.h"
#include "platform/linux/files/SmallFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

constexpr const char* kAutostartFolder = "autostart";
constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";
constexpr unsigned kEntryMode = 0644;

LoginItemError errorFrom(int error) {
    return LoginItemError{std::strerror(error)};
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

bool entryExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

} // namespace

std::filesystem::path runningProgramPath() {
    std::error_code ec;
    auto path = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : path;
}

XdgAutostart::XdgAutostart(std::filesystem::path program, Environment environment)
    : program_(std::move(program))
    , environment_(std::move(environment)) {}

std::filesystem::path XdgAutostart::userEntryPath() const {
    const auto home = configHome(environment_);
    return home.empty() ? home : home / kAutostartFolder / kEntryFileName;
}

std::optional<std::filesystem::path> XdgAutostart::systemEntryPath() const {
    for (const auto& dir : configDirs(environment_)) {
        auto path = dir / kAutostartFolder / kEntryFileName;
        if (entryExists(path)) {
            return path;
        }
    }
    return std::nullopt;
}

std::optional<LoginItemError> XdgAutostart::registerItem() {
    if (!program_.is_absolute()) {
        return errorFrom(ENOENT);
    }
    const auto path = userEntryPath();
    if (path.empty()) {
        return errorFrom(ENOENT);
    }
    const std::string contents = "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=Varnu\n"
                                 "Exec=" +
                                 execValueForProgram(program_) +
                                 "\n"
                                 "X-GNOME-Autostart-enabled=true\n";
    if (const int error = replaceFileAtomically(path, contents, kEntryMode)) {
        return errorFrom(error);
    }
    return std::nullopt;
}

std::optional<LoginItemError> XdgAutostart::unregisterItem() {
    const auto path = userEntryPath();
    if (path.empty()) {
        return errorFrom(ENOENT);
    }
    if (systemEntryPath()) {
        // Removing our file would let the system-wide entry take over again.
        const std::string contents = "[Desktop Entry]\n"
                                     "Type=Application\n"
                                     "Name=Varnu\n"
                                     "Hidden=true\n";
        if (const int error = replaceFileAtomically(path, contents, kEntryMode)) {
            return errorFrom(error);
        }
        return std::nullopt;
    }
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return errorFrom(errno);
    }
    return std::nullopt;
}

LoginItemStatus XdgAutostart::status() {
    std::optional<std::filesystem::path> inForce;
    if (const auto user = userEntryPath(); !user.empty() && entryExists(user)) {
        inForce = user;
    } else {
        inForce = systemEntryPath();
    }
    if (!inForce) {
        return LoginItemStatus::NotRegistered;
    }
    // Runs on the main thread every few seconds: a pipe put there must not stop it.
    int error = 0;
    const auto contents = readSmallFile(*inForce, error);
    if (!contents) {
        return LoginItemStatus::NotRegistered;
    }
    return isEnabled(DesktopEntry::parse(*contents)) ? LoginItemStatus::Enabled
                                                     : LoginItemStatus::NotRegistered;
}

bool XdgAutostart::isEnabled(const DesktopEntry& entry) const {
    if (entry.boolean("Hidden") == true || entry.boolean("X-GNOME-Autostart-enabled") == false) {
        return false;
    }
    const auto current = splitList(
        nonEmptyVariable(environment_, "XDG_CURRENT_DESKTOP").value_or(std::string()), ':');
    const auto namesCurrent = [&](const std::vector<std::string>& desktops) {
        return std::any_of(desktops.begin(), desktops.end(), [&](const std::string& desktop) {
            return std::find(current.begin(), current.end(), desktop) != current.end();
        });
    };
    if (const auto onlyShowIn = entry.list("OnlyShowIn");
        !onlyShowIn.empty() && !namesCurrent(onlyShowIn)) {
        return false;
    }
    if (namesCurrent(entry.list("NotShowIn"))) {
        return false;
    }
    if (const auto tryExec = entry.value("TryExec"); tryExec && !tryExec->empty()) {
        return programExists(*tryExec);
    }
    return true;
}

bool XdgAutostart::programExists(const std::string& program) const {
    if (program.find('/') != std::string::npos) {
        return isExecutableFile(program);
    }
    const auto searchPath =
        nonEmptyVariable(environment_, "PATH").value_or(std::string(kDefaultSearchPath));
    for (const auto& dir : splitList(searchPath, ':')) {
        if (isExecutableFile(std::filesystem::path(dir) / program)) {
            return true;
        }
    }
    return false;
}

} // namespace varnu::linux_backend
