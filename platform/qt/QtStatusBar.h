#pragma once

// The status item as a system-tray icon.
// Implements: StatusBar and StatusItem on QSystemTrayIcon (StatusNotifierItem over D-Bus or the
// X11 tray, whichever Qt finds): the symbol image, its accessibility text as the tool tip, the
// core's menu on right click and on left click. A desktop whose tray appears after Varnu
// started (Varnu runs at login) is waited for: showing is retried until a tray exists.
// Does not: draw into a panel without a tray (GNOME needs its AppIndicator extension; launching
// Varnu again opens its settings window).

#include "platform/StatusBar.h"

#include <memory>

class QSystemTrayIcon;
class QTimer;

namespace varnu::qt {

class QtMenu;

class QtStatusItem final : public StatusItem, public StatusBarButton {
public:
    QtStatusItem();
    ~QtStatusItem() override;

    StatusBarButton* button() override { return this; }
    void setMenu(std::shared_ptr<Menu> menu) override;
    void setImage(std::optional<SymbolImage> image) override;

    QSystemTrayIcon* trayIcon() const { return tray_; }
    QtMenu* menu() const { return menu_.get(); }
    const std::optional<SymbolImage>& image() const { return image_; }
    // Whether the icon waits for a tray to appear.
    bool isWaitingForTray() const;

private:
    void showWhenPossible();

    QSystemTrayIcon* tray_;
    QTimer* retry_;
    std::unique_ptr<QtMenu> menu_;
    std::optional<SymbolImage> image_;
};

class QtStatusBar final : public StatusBar {
public:
    std::shared_ptr<StatusItem> statusItem(double length) override;
};

} // namespace varnu::qt
