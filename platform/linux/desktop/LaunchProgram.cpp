#include "platform/linux/desktop/LaunchProgram.h"

#include <grp.h>
#include <pwd.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef VARNU_INSTALLED_PROGRAM
#define VARNU_INSTALLED_PROGRAM "/usr/local/bin/varnu"
#endif

namespace varnu::linux_backend {

namespace {

constexpr const char* kProgramName = "varnu";
constexpr const char* kDefaultSearchPath = "/usr/local/bin:/usr/bin:/bin";
constexpr std::string_view kDeletedMark = " (deleted)";
// The kernel's own limit on links followed in one lookup.
constexpr int kMaxLinksFollowed = 40;
constexpr std::size_t kDatabaseBufferSize = 16384;

// The group only this user is in, when the system gives each user one.
std::optional<gid_t> privateGroupOf(uid_t user) {
    std::vector<char> buffer(kDatabaseBufferSize);
    passwd account{};
    passwd* foundAccount = nullptr;
    if (::getpwuid_r(user, &account, buffer.data(), buffer.size(), &foundAccount) != 0 ||
        !foundAccount) {
        return std::nullopt;
    }
    const std::string name = account.pw_name;
    const gid_t primary = account.pw_gid;
    std::vector<char> groupBuffer(kDatabaseBufferSize);
    group entry{};
    group* foundGroup = nullptr;
    if (::getgrgid_r(primary, &entry, groupBuffer.data(), groupBuffer.size(), &foundGroup) != 0 ||
        !foundGroup || name != entry.gr_name) {
        return std::nullopt;
    }
    for (char** member = entry.gr_mem; member && *member; ++member) {
        if (name != *member) {
            return std::nullopt;
        }
    }
    return primary;
}

std::filesystem::path withoutDeletedMark(const std::filesystem::path& path) {
    auto text = path.string();
    std::error_code ec;
    if (text.ends_with(kDeletedMark) &&
        !std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
        text.resize(text.size() - kDeletedMark.size());
    }
    return text;
}

} // namespace

std::filesystem::path installedProgramPath() {
    return VARNU_INSTALLED_PROGRAM;
}

std::optional<std::filesystem::path> placeOthersCanChange(const std::filesystem::path& path,
                                                          uid_t user) {
    if (!path.is_absolute()) {
        return path;
    }
    const auto privateGroup = privateGroupOf(user);
    const auto onlyOwnersCanChange = [&](const struct stat& info) {
        if (info.st_uid != 0 && info.st_uid != user) {
            return false;
        }
        // A link cannot be changed, only replaced by whoever may write its folder.
        if (S_ISLNK(info.st_mode)) {
            return true;
        }
        const bool groupWrites =
            (info.st_mode & S_IWGRP) != 0 && !(privateGroup && info.st_gid == *privateGroup);
        const bool othersWrite = (info.st_mode & S_IWOTH) != 0;
        const bool stickyForRoot =
            S_ISDIR(info.st_mode) && (info.st_mode & S_ISVTX) != 0 && info.st_uid == 0;
        return (!groupWrites && !othersWrite) || stickyForRoot;
    };
    // The names still to walk through, the next one last; links add their target's names.
    std::vector<std::string> pending;
    const auto walkInto = [&](const std::filesystem::path& relative) {
        std::vector<std::string> names;
        for (const auto& name : relative) {
            names.push_back(name.string());
        }
        pending.insert(pending.end(), names.rbegin(), names.rend());
    };
    std::filesystem::path current = "/";
    struct stat info {};
    if (::lstat(current.c_str(), &info) != 0 || !onlyOwnersCanChange(info)) {
        return current;
    }
    walkInto(path.relative_path());
    int followed = 0;
    while (!pending.empty()) {
        const auto name = std::move(pending.back());
        pending.pop_back();
        if (name.empty() || name == ".") {
            continue;
        }
        if (name == "..") {
            current = current.parent_path();
            continue;
        }
        const auto next = current / name;
        if (::lstat(next.c_str(), &info) != 0 || !onlyOwnersCanChange(info)) {
            return next;
        }
        if (!S_ISLNK(info.st_mode)) {
            current = next;
            continue;
        }
        std::error_code ec;
        const auto target = std::filesystem::read_symlink(next, ec);
        if (ec || ++followed > kMaxLinksFollowed) {
            return next;
        }
        if (target.is_absolute()) {
            current = "/";
        }
        walkInto(target.relative_path());
    }
    return std::nullopt;
}

bool isExecutableFile(const std::filesystem::path& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

std::optional<std::filesystem::path> findProgram(const std::string& program,
                                                 const Environment& environment) {
    if (program.find('/') != std::string::npos) {
        return isExecutableFile(program) ? std::optional<std::filesystem::path>(program)
                                         : std::nullopt;
    }
    const auto searchPath =
        nonEmptyVariable(environment, "PATH").value_or(std::string(kDefaultSearchPath));
    for (const auto& dir : splitList(searchPath, ':')) {
        auto candidate = std::filesystem::path(dir) / program;
        if (isExecutableFile(candidate)) {
            return candidate;
        }
    }
    return std::nullopt;
}

ProgramToLaunch programToLaunch(const ProgramPlaces& places, const Environment& environment,
                                uid_t user) {
    const auto running = withoutDeletedMark(places.running ? places.running() : "");
    std::optional<std::filesystem::path> unsafe;
    std::filesystem::path unsafeProgram;
    for (const auto& candidate : {places.installed, running}) {
        if (!candidate.is_absolute() || !isExecutableFile(candidate)) {
            continue;
        }
        const auto place = placeOthersCanChange(candidate, user);
        if (!place) {
            return {candidate, {}};
        }
        unsafe = place;
        unsafeProgram = candidate;
    }
    // Installed elsewhere: the session finds it the way a terminal does.
    if (const auto found = findProgram(kProgramName, environment);
        found && !placeOthersCanChange(*found, user)) {
        return {kProgramName, {}};
    }
    if (unsafe) {
        return {{},
                "Others can change " + unsafe->string() + ", on the way to " +
                    unsafeProgram.string() + "; install Varnu to start it at login"};
    }
    return {{},
            (running.empty() ? std::string("The running program cannot be found")
                             : running.string() + " is gone") +
                ", and Varnu is not installed"};
}

} // namespace varnu::linux_backend
