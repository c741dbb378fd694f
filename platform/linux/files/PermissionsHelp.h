#pragma once

// Where the page that explains the device permissions Varnu needs is: the installed page, from
// the installation prefix, else the page where it lies relative to the running program, as
// installed under another prefix or as the build puts it beside each program of the build tree
// that shows it (see CMakeLists.txt). No build machine's path is compiled in.

#include "platform/linux/files/RunningProgram.h"

#include <filesystem>
#include <string>
#include <string_view>

#ifndef VARNU_PERMISSIONS_HELP_PAGE
#define VARNU_PERMISSIONS_HELP_PAGE "/usr/local/share/varnu/help/permissions.html"
#endif
#ifndef VARNU_PERMISSIONS_HELP_PAGE_FROM_PROGRAM
#define VARNU_PERMISSIONS_HELP_PAGE_FROM_PROGRAM "../share/varnu/help/permissions.html"
#endif

namespace varnu::linux_backend {

inline constexpr std::string_view kPermissionsHelpPage = VARNU_PERMISSIONS_HELP_PAGE;
inline constexpr std::string_view kPermissionsHelpPageFromProgram =
    VARNU_PERMISSIONS_HELP_PAGE_FROM_PROGRAM;

// The page's place relative to the running program; empty when that cannot be found.
inline std::string permissionsHelpPageBesideProgram() {
    const auto program = runningProgramPath();
    if (program.empty()) {
        return {};
    }
    return (program.parent_path() / kPermissionsHelpPageFromProgram).lexically_normal().string();
}

// The installed page, else the one beside the program when only that one exists.
inline std::string
permissionsHelpPage(std::string_view installed = kPermissionsHelpPage,
                    std::string besideProgram = permissionsHelpPageBesideProgram()) {
    std::error_code ec;
    if (!besideProgram.empty() && !std::filesystem::exists(installed, ec) &&
        std::filesystem::exists(besideProgram, ec)) {
        return besideProgram;
    }
    return std::string(installed);
}

} // namespace varnu::linux_backend
