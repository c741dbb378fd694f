#pragma once

// Launch at login through an XDG autostart entry, $XDG_CONFIG_HOME/autostart/varnu.desktop.
// Implements: register (writes Type=Application, Name=Varnu, an Exec of the program chosen as
// LaunchProgram.h says, X-GNOME-Autostart-enabled=true; fails with the reason when there is none),
// unregister (removes the user's entry, or writes one with Hidden=true when a system-wide entry of
// the same name exists in $XDG_CONFIG_DIRS/autostart), and the status: enabled exactly when the
// entry in force (the user's over the system's) is not disabled by Hidden,
// X-GNOME-Autostart-enabled=false, OnlyShowIn/NotShowIn against $XDG_CURRENT_DESKTOP, or a TryExec
// program that cannot be found; otherwise not registered. Errors carry the operating system's own
// message (strerror). Does not implement: "requires approval" (nothing on a desktop asks for
// approval), the background portal of sandboxed applications, or desktops that do not read
// autostart entries.

#include "platform/LoginItem.h"
#include "platform/linux/desktop/DesktopEntry.h"
#include "platform/linux/desktop/LaunchProgram.h"
#include "platform/linux/files/XdgEnvironment.h"

#include <filesystem>
#include <optional>

namespace varnu::linux_backend {

class XdgAutostart final : public LoginItemService {
public:
    static constexpr const char* kEntryFileName = "varnu.desktop";

    explicit XdgAutostart(ProgramPlaces programs = {},
                          Environment environment = processEnvironment());

    std::optional<LoginItemError> registerItem() override;
    std::optional<LoginItemError> unregisterItem() override;
    LoginItemStatus status() override;

    // Empty when there is no home directory.
    std::filesystem::path userEntryPath() const;

private:
    std::optional<std::filesystem::path> systemEntryPath() const;
    bool isEnabled(const DesktopEntry& entry) const;

    ProgramPlaces programs_;
    Environment environment_;
};

} // namespace varnu::linux_backend
