#pragma once

// Which program the autostart entry starts. The entry outlives the running program: a package
// upgrade replaces it (and /proc/self/exe then reads "... (deleted)"), and a build folder goes
// away; and whatever the entry names runs at every login, so nobody else may be able to change it.
// Implements: the installed program (the installation prefix's bindir) when it exists, else the
// running one (also once an upgrade replaced it at the same path), each only when nobody but root
// and the user can change what its path leads to; else "varnu" when a program of that name on
// $PATH passes the same test; else a refusal that says why. Finding programs on $PATH.
// Does not implement: access control lists beyond the group bits that mirror them, or
// capabilities that let others write anywhere.

#include "platform/linux/files/RunningProgram.h"
#include "platform/linux/files/XdgEnvironment.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>

namespace varnu::linux_backend {

// Where `cmake --install` puts the varnu program.
std::filesystem::path installedProgramPath();

// Where the program to start at login may be.
struct ProgramPlaces {
    std::filesystem::path installed = installedProgramPath();
    // Asked each time an entry is written: an upgrade may have replaced the program since.
    std::function<std::filesystem::path()> running = runningProgramPath;
};

// The first place on the way to the path (a folder, a link, the file itself) that someone other
// than root and the user could change or replace; nothing when there is none. A place that cannot
// be looked at counts. Writable by a group is allowed only for the user's private group (named as
// the user, the user's primary group, no other members); a folder anyone may write only when
// root owns it and it is sticky (/tmp), as then only its owners can replace what is in it.
std::optional<std::filesystem::path> placeOthersCanChange(const std::filesystem::path& path,
                                                          uid_t user);

// A regular file this process may run.
bool isExecutableFile(const std::filesystem::path& path);

// The program as the session would find it: a path with a '/' as it is, a name in $PATH.
std::optional<std::filesystem::path> findProgram(const std::string& program,
                                                 const Environment& environment);

struct ProgramToLaunch {
    // An absolute path, or the bare name found on $PATH; empty when refused.
    std::filesystem::path program;
    // Why nothing could be chosen, in a sentence for the user.
    std::string refusal;
};

ProgramToLaunch programToLaunch(const ProgramPlaces& places, const Environment& environment,
                                uid_t user);

} // namespace varnu::linux_backend
