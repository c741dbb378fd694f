#pragma once

// The tray item published on the session bus, on a connection of its own.
// Implements: the item and its menu as D-Bus objects, and their registration with
// org.kde.StatusNotifierWatcher by the item's object path whenever a watcher owns that name: at
// start, when a panel starts later, and again after the panel restarts. The item owns no
// well-known name: a host that watches such a name may drop an item it has just read when the
// name's first report reaches it late. An item the watcher says it dropped, or no longer lists
// when its list is read again a little after each registration, is registered anew, a bounded
// number of times per watcher.
// Does not: draw anything without a watcher (the X11 tray takes over then), or make the session
// bus (no bus, no item).

#include <QDBusConnection>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class QDBusServiceWatcher;
class QTimer;

namespace varnu::qt {

class DBusMenuExporter;
class QtMenu;
class StatusNotifierItem;

class DBusTray {
public:
    static constexpr const char* kItemPath = "/StatusNotifierItem";
    static constexpr const char* kMenuPath = "/MenuBar";
    // Registrations per watcher, the first included, before the item is given up on.
    static constexpr int kRegistrationAttempts = 4;

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

    // A watcher owns its name on the bus.
    bool hasWatcher() const { return hasWatcher_; }
    // The watcher has accepted the item and lists it.
    bool isRegistered() const { return registered_; }
    // The watcher has dropped the item every time it was registered.
    bool wasRefused() const { return refused_; }
    // Runs when any of the three changes.
    std::function<void()> onChanged;

    // The connection's unique name, which the watcher's entry for the item holds.
    QString uniqueName() const { return bus_.baseService(); }

private:
    DBusTray(const QDBusConnection& bus, QString connectionName);
    void watcherAppeared();
    void registerItem();
    void checkListed();
    bool namesThisItem(const QString& entry) const;
    void listed(const QStringList& items);
    void notListed();
    void setState(bool hasWatcher, bool registered, bool refused);

    QDBusConnection bus_;
    QString connectionName_;
    std::unique_ptr<StatusNotifierItem> item_;
    std::unique_ptr<DBusMenuExporter> menu_;
    QDBusServiceWatcher* watcher_ = nullptr;
    QTimer* recheck_ = nullptr;
    int attempts_ = 0;
    // Grows with each registration and when the item is given up on: what the watcher answers
    // to a call of an earlier round is out of date.
    int round_ = 0;
    bool hasWatcher_ = false;
    bool registered_ = false;
    bool refused_ = false;
};

} // namespace varnu::qt
