#pragma once

// The status item as a tray icon.
// Implements: StatusBar and StatusItem as a StatusNotifierItem of our own on the session bus
// (registered with the panel's watcher whenever one appears), and, while no watcher is on the
// bus, as an X11 system-tray icon (XEmbed) through QSystemTrayIcon, retried until a tray
// exists; the symbol image, its accessibility text as the tool tip, the core's menu on a left
// and a right click. When no tray has taken the icon some seconds after start, one desktop
// notification says that Varnu runs and how to reach it.
// Does not: draw into a panel without a tray (GNOME needs its AppIndicator extension; launching
// Varnu again opens its settings window).

#include "platform/StatusBar.h"

#include <QIcon>
#include <functional>
#include <memory>

class QSystemTrayIcon;
class QTimer;

namespace varnu::qt {

class DBusTray;
class QtMenu;

class QtStatusItem final : public StatusItem, public StatusBarButton {
public:
    // isGerman chooses the notification's language; without it none is posted.
    explicit QtStatusItem(std::function<bool()> isGerman = {});
    ~QtStatusItem() override;

    StatusBarButton* button() override { return this; }
    void setMenu(std::shared_ptr<Menu> menu) override;
    void setImage(std::optional<SymbolImage> image) override;

    // Null until the X11 tray is tried.
    QSystemTrayIcon* trayIcon() const { return tray_; }
    // Null without a session bus, and until there is an icon.
    DBusTray* dbusTray() const { return dbus_.get(); }
    QtMenu* menu() const { return menu_.get(); }
    const std::optional<SymbolImage>& image() const { return image_; }
    // Whether the icon waits for a tray to appear.
    bool isWaitingForTray() const;
    // Whether a tray shows the icon.
    bool isInTray() const;

private:
    void placeIcon();
    void showInX11Tray();
    QString toolTip() const;
    void popUpMenu(QPoint at);

    std::unique_ptr<DBusTray> dbus_;
    bool dbusTried_ = false;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* retry_;
    QTimer* noTray_;
    std::function<bool()> isGerman_;
    std::unique_ptr<QtMenu> menu_;
    std::optional<SymbolImage> image_;
    QIcon icon_;
};

class QtStatusBar final : public StatusBar {
public:
    std::shared_ptr<StatusItem> statusItem(double length) override;
    // The interface's language rule, for the notification posted when no tray shows the icon.
    void setLanguageRule(std::function<bool()> isGerman) { isGerman_ = std::move(isGerman); }

private:
    std::function<bool()> isGerman_;
};

} // namespace varnu::qt
