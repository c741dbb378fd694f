#pragma once

// The Qt half of the platform bundle: everything the user sees, and the main queue.

#include "platform/PlatformServices.h"
#include "platform/qt/QtAlerts.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtOverlay.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/QtWindow.h"
#include "platform/qt/TrayPresence.h"

#include <memory>

namespace varnu::qt {

struct QtFront {
    // Requires a QApplication.
    static QtFront make();

    // Puts the front's services into the bundle; the rest is the backend's.
    void fill(PlatformServices& services) const;

    std::shared_ptr<QtApplication> application;
    std::shared_ptr<QtMainQueue> mainQueue;
    std::shared_ptr<QtStatusBar> statusBar;
    std::shared_ptr<QtOverlayFactory> overlays;
    std::shared_ptr<QtScreens> screens;
    std::shared_ptr<QtWindowFactory> windows;
    std::shared_ptr<QtAlerts> alerts;
    std::shared_ptr<QtWorkspace> workspace;
    // Whether a tray shows the icon; the settings window offers Quit while none does.
    std::shared_ptr<TrayPresence> trayPresence;
};

} // namespace varnu::qt
