#pragma once

// The status item as a tray icon.
// Implements: StatusBar and StatusItem as a StatusNotifierItem of our own on the session bus
// (registered with the panel's watcher whenever one appears), and, while no watcher is on the
// bus, as an X11 system-tray icon (XEmbed) through QSystemTrayIcon, retried until a tray
// exists. Whatever the core's symbol, the tray shows Varnu's own mark: by its name in the icon
// theme where it is installed (a "-symbolic" icon that hosts draw in their panel's colour), and
// as pixmaps, light with a dark rim, for hosts and trays that take only pixmaps. The tool tip is
// "Varnu" over the menu's control line. The core's menu on a left and a right click. As soon as it
// is clear that no tray shows the icon (neither a watcher nor an X11 tray; a watcher that keeps
// dropping the item), the user is told once, on stderr and by a desktop notification where a server
// is, how to get a tray on that desktop, and the settings window offers Quit.
// Does not: draw into a panel without a tray (launching Varnu again opens its settings window).

#include "platform/StatusBar.h"

#include <QIcon>
#include <functional>
#include <memory>

class QSystemTrayIcon;
class QTimer;

namespace varnu::qt {

class DBusTray;
class QtMenu;
class TrayPresence;

class QtStatusItem final : public StatusItem, public StatusBarButton {
public:
    // isGerman chooses the notice's language; without it none is given.
    explicit QtStatusItem(std::function<bool()> isGerman = {},
                          std::shared_ptr<TrayPresence> presence = {});
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
    // Whether the user has been told that no tray shows the icon.
    bool hasToldNoTray() const { return toldNoTray_; }
    QString toolTip() const;

private:
    void placeIcon();
    void showInX11Tray();
    void showIconOnBus();
    void updateToolTip();
    void trayChanged();
    bool popUpMenu(QPoint at);

    std::unique_ptr<DBusTray> dbus_;
    bool dbusTried_ = false;
    QSystemTrayIcon* tray_ = nullptr;
    QTimer* retry_;
    std::function<bool()> isGerman_;
    std::shared_ptr<TrayPresence> presence_;
    std::unique_ptr<QtMenu> menu_;
    std::optional<SymbolImage> image_;
    QIcon icon_;
    bool toldNoTray_ = false;
};

class QtStatusBar final : public StatusBar {
public:
    explicit QtStatusBar(std::shared_ptr<TrayPresence> presence = {})
        : presence_(std::move(presence)) {}

    std::shared_ptr<StatusItem> statusItem(double length) override;
    // The interface's language rule, for the notice given when no tray shows the icon and the
    // windows' Quit button.
    void setLanguageRule(std::function<bool()> isGerman);

private:
    std::function<bool()> isGerman_;
    std::shared_ptr<TrayPresence> presence_;
};

} // namespace varnu::qt
