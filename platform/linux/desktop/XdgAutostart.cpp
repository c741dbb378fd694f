#include "platform/linux/desktop/XdgAutostart.h"

#include "platform/linux/files/AtomicFile.h"
#include "platform/linux/files/SmallFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace varnu::linux_backend {

namespace {

constexpr const char* kAutostartFolder = "autostart";
constexpr unsigned kEntryMode = 0644;

LoginItemError errorFrom(int error) {
    return LoginItemError{std::strerror(error)};
}

std::optional<LoginItemError> writeEntry(const std::filesystem::path& path,
                                         const std::string& contents) {
    // A write cut short leaves its temporary file; the next one takes it away.
    removeInterruptedReplace(path);
    if (const int error = replaceFileAtomically(path, contents, kEntryMode)) {
        return errorFrom(error);
    }
    return std::nullopt;
}

bool entryExists(const std::filesystem::path& path) {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

} // namespace

XdgAutostart::XdgAutostart(ProgramPlaces programs, Environment environment)
    : programs_(std::move(programs))
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
    const auto program = programToLaunch(programs_, environment_, ::geteuid());
    if (program.program.empty()) {
        return LoginItemError{program.refusal};
    }
    const auto path = userEntryPath();
    if (path.empty()) {
        return errorFrom(ENOENT);
    }
    const std::string contents = "[Desktop Entry]\n"
                                 "Type=Application\n"
                                 "Name=Varnu\n"
                                 "Exec=" +
                                 execValueForProgram(program.program) +
                                 "\n"
                                 "X-GNOME-Autostart-enabled=true\n";
    return writeEntry(path, contents);
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
        return writeEntry(path, contents);
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
        return findProgram(*tryExec, environment_).has_value();
    }
    return true;
}

} // namespace varnu::linux_backend
