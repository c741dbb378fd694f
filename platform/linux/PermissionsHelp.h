#pragma once

// Where the page that explains the device permissions Varnu needs is installed. The build sets
// the path from the installation prefix.

#include <string_view>

#ifndef VARNU_PERMISSIONS_HELP_PAGE
#define VARNU_PERMISSIONS_HELP_PAGE "/usr/local/share/varnu/help/permissions.html"
#endif

namespace varnu::linux_backend {

inline constexpr std::string_view kPermissionsHelpPage = VARNU_PERMISSIONS_HELP_PAGE;

} // namespace varnu::linux_backend
