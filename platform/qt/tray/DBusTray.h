#pragma once

// The tray item published on the session bus, on a connection of its own.
// Implements: the item and its menu as D-Bus objects under a name of their own, and their
// registration with org.kde.StatusNotifierWatcher whenever a watcher owns that name: at start,
// when a panel starts later, and again after the panel restarts.
// Does not: draw anything without a watcher (the X11 tray takes over then), or make the session
// bus (no bus, no item).

#include <QDBusConnection>
#include <QString>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace varnu::qt {

class DBusMenuExporter;
class QtMenu;
class StatusNotifierItem;

class DBusTray {
public:
    static constexpr const char* kItemPath = "/StatusNotifierItem";
    static constexpr const char* kMenuPath = "/MenuBar";

    // Null without a session bus.
    static std::unique_ptr<DBusTray> publish();
    // From now on, registers the item with every watcher that appears, the present one first.
    void registerWhenWatched();
    ~DBusTray();

    DBusTray(const DBusTray&) = delete;
    DBusTray& operator=(const DBusTray&) = delete;

    StatusNotifierItem& item() const { return *item_; }
    // Exports the menu, in place of the one before; null exports none.
    void setMenu(QtMenu* menu);
    DBusMenuExporter* menuExporter() const { return menu_.get(); }

    // A watcher owns its name on the bus; the item is registered with it.
    bool hasWatcher() const { return hasWatcher_; }
    bool isRegistered() const { return registered_; }
    // Runs when either of the two changes.
    std::function<void()> onChanged;

    QString serviceName() const { return serviceName_; }

private:
    DBusTray(const QDBusConnection& bus, QString connectionName);
    void watcherAppeared();
    void setState(bool hasWatcher, bool registered);

    QDBusConnection bus_;
    QString connectionName_;
    QString serviceName_;
    std::unique_ptr<StatusNotifierItem> item_;
    std::unique_ptr<DBusMenuExporter> menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    bool hasWatcher_ = false;
    bool registered_ = false;
};

} // namespace varnu::qt
