#include "platform/qt/QtFront.h"

namespace varnu::qt {

QtFront QtFront::make() {
    QtFront front;
    front.application = std::make_shared<QtApplication>();
    front.mainQueue = std::make_shared<QtMainQueue>();
    front.trayPresence = std::make_shared<TrayPresence>();
    front.trayPresence->quit = [application = std::weak_ptr<QtApplication>(front.application)] {
        if (auto app = application.lock()) {
            app->terminate();
        }
    };
    front.statusBar = std::make_shared<QtStatusBar>(front.trayPresence);
    front.overlays = std::make_shared<QtOverlayFactory>();
    front.screens = std::make_shared<QtScreens>(
        [overlays = std::weak_ptr<QtOverlayFactory>(front.overlays)]() -> std::optional<QPointF> {
            const auto factory = overlays.lock();
            return factory ? factory->xwaylandPointer() : std::nullopt;
        });
    front.windows = std::make_shared<QtWindowFactory>(front.trayPresence);
    front.alerts = std::make_shared<QtAlerts>();
    front.workspace = std::make_shared<QtWorkspace>();
    return front;
}

void QtFront::fill(PlatformServices& services) const {
    services.application = application;
    services.mainQueue = mainQueue;
    services.statusBar = statusBar;
    services.overlays = overlays;
    services.screens = screens;
    services.windows = windows;
    services.alerts = alerts;
    services.workspace = workspace;
}

} // namespace varnu::qt
