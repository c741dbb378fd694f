#pragma once

// Alerts and links.
// Implements: Alerts as an application-modal QMessageBox with the message, the informative text
// and one OK button; Workspace through QDesktopServices (xdg-open on Linux desktops).
// Does not: remember the answer, or check that an opened link led anywhere.

#include "platform/Alert.h"
#include "platform/Workspace.h"

namespace varnu::qt {

class QtAlerts final : public Alerts {
public:
    void runModal(const std::string& messageText, const std::string& informativeText) override;
};

class QtWorkspace final : public Workspace {
public:
    bool openURL(const std::string& url) override;
};

} // namespace varnu::qt
