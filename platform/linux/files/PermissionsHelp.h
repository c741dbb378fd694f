#pragma once

// Where the page that explains the device permissions Varnu needs is. The build sets both paths:
// the installed page, from the installation prefix, and the page in the source tree, for a
// Varnu run from its build folder.

#include <filesystem>
#include <string>
#include <string_view>

#ifndef VARNU_PERMISSIONS_HELP_PAGE
#define VARNU_PERMISSIONS_HELP_PAGE "/usr/local/share/varnu/help/permissions.html"
#endif
#ifndef VARNU_SOURCE_PERMISSIONS_HELP_PAGE
#define VARNU_SOURCE_PERMISSIONS_HELP_PAGE ""
#endif

namespace varnu::linux_backend {

inline constexpr std::string_view kPermissionsHelpPage = VARNU_PERMISSIONS_HELP_PAGE;
inline constexpr std::string_view kSourcePermissionsHelpPage = VARNU_SOURCE_PERMISSIONS_HELP_PAGE;

// The installed page, else the source tree's when only that one exists.
inline std::string permissionsHelpPage(std::string_view installed = kPermissionsHelpPage,
                                       std::string_view source = kSourcePermissionsHelpPage) {
    std::error_code ec;
    if (!source.empty() && !std::filesystem::exists(installed, ec) &&
        std::filesystem::exists(source, ec)) {
        return std::string(source);
    }
    return std::string(installed);
}

} // namespace varnu::linux_backend
