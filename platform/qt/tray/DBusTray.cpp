#include "platform/qt/tray/DBusTray.h"

#include "platform/qt/tray/DBusMenuExporter.h"
#include "platform/qt/tray/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>

namespace varnu::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
constexpr auto kExported = QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                           QDBusConnection::ExportAllSignals;

} // namespace

std::unique_ptr<DBusTray> DBusTray::publish() {
    static int trays = 0;
    const QString name = QStringLiteral("varnu-tray-%1").arg(++trays);
    const auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, name);
    if (!bus.isConnected()) {
        QDBusConnection::disconnectFromBus(name);
        return nullptr;
    }
    return std::unique_ptr<DBusTray>(new DBusTray(bus, name));
}

DBusTray::DBusTray(const QDBusConnection& bus, QString connectionName)
    : bus_(bus)
    , connectionName_(std::move(connectionName))
    , item_(std::make_unique<StatusNotifierItem>()) {
    registerDBusTrayTypes();
    static int items = 0;
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(++items);
    bus_.registerObject(QString::fromLatin1(kItemPath), item_.get(), kExported);
    bus_.registerService(serviceName_);
}

void DBusTray::registerWhenWatched() {
    if (watcher_) {
        return;
    }
    // The panel's watcher may come and go (started after Varnu, restarted): each new owner of
    // its name gets the item anew.
    watcher_ = new QDBusServiceWatcher(kWatcherService, bus_,
                                       QDBusServiceWatcher::WatchForOwnerChange, item_.get());
    QObject::connect(watcher_, &QDBusServiceWatcher::serviceOwnerChanged, item_.get(),
                     [this](const QString&, const QString&, const QString& owner) {
                         if (owner.isEmpty()) {
                             setState(false, false);
                         } else {
                             watcherAppeared();
                         }
                     });
    if (bus_.interface()->isServiceRegistered(kWatcherService)) {
        watcherAppeared();
    }
}
DBusTray::~DBusTray() {
    delete watcher_;
    bus_.unregisterObject(QString::fromLatin1(kMenuPath));
    bus_.unregisterObject(QString::fromLatin1(kItemPath));
    bus_.unregisterService(serviceName_);
    menu_.reset();
    item_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
}

void DBusTray::setMenu(QtMenu* menu) {
    bus_.unregisterObject(QString::fromLatin1(kMenuPath));
    menu_.reset();
    if (menu) {
        menu_ = std::make_unique<DBusMenuExporter>(*menu);
        bus_.registerObject(QString::fromLatin1(kMenuPath), menu_.get(), kExported);
    }
}

void DBusTray::watcherAppeared() {
    setState(true, false);
    auto message = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                                  QStringLiteral("RegisterStatusNotifierItem"));
    message << serviceName_;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(message), item_.get());
    QObject::connect(call, &QDBusPendingCallWatcher::finished, item_.get(),
                     [this](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         if (!finished->isError() && hasWatcher_) {
                             setState(true, true);
                         }
                     });
}

void DBusTray::setState(bool hasWatcher, bool registered) {
    if (hasWatcher == hasWatcher_ && registered == registered_) {
        return;
    }
    hasWatcher_ = hasWatcher;
    registered_ = registered;
    if (onChanged) {
        onChanged();
    }
}

} // namespace varnu::qt
