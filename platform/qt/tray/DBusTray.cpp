#include "platform/qt/tray/DBusTray.h"

#include "platform/qt/tray/DBusMenuExporter.h"
#include "platform/qt/tray/StatusNotifierItem.h"

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QTimer>

namespace varnu::qt {

namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kRegisteredItems = QStringLiteral("RegisteredStatusNotifierItems");
constexpr auto kExported = QDBusConnection::ExportAllProperties | QDBusConnection::ExportAllSlots |
                           QDBusConnection::ExportAllSignals;
// A host sets an item up for a second or two after accepting it, and may drop it in that time.
constexpr int kListCheckMilliseconds = 2500;

// The watcher's signals, which QtDBus delivers only to slots.
class WatcherSignals final : public QObject {
    Q_OBJECT
public:
    explicit WatcherSignals(std::function<void(const QString&)> onItemDropped, QObject* parent)
        : QObject(parent)
        , onItemDropped_(std::move(onItemDropped)) {}

public slots:
    void itemUnregistered(const QString& item) { onItemDropped_(item); }

private:
    std::function<void(const QString&)> onItemDropped_;
};

} // namespace

std::unique_ptr<DBusTray> DBusTray::publish() {
    static int trays = 0;
    const QString name = QStringLiteral("varnu-tray-%1").arg(++trays);
    // The address as the environment gives it now; Qt's own session bus keeps the first one.
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    const auto bus = address.isEmpty()
                         ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)
                         : QDBusConnection::connectToBus(address, name);
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
    bus_.registerObject(QString::fromLatin1(kItemPath), item_.get(), kExported);
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
                         recheck_->stop();
                         if (owner.isEmpty()) {
                             setState(false, false, false);
                         } else {
                             watcherAppeared();
                         }
                     });
    recheck_ = new QTimer(item_.get());
    recheck_->setSingleShot(true);
    recheck_->setInterval(kListCheckMilliseconds);
    QObject::connect(recheck_, &QTimer::timeout, item_.get(), [this] { checkListed(); });
    auto* listener = new WatcherSignals(
        [this](const QString& entry) {
            // The signal names the dropped item; the watcher's list may show it a while longer.
            if (hasWatcher_ && namesThisItem(entry)) {
                notListed();
            }
        },
        item_.get());
    bus_.connect(kWatcherService, kWatcherPath, kWatcherService,
                 QStringLiteral("StatusNotifierItemUnregistered"), listener,
                 SLOT(itemUnregistered(QString)));
    if (bus_.interface()->isServiceRegistered(kWatcherService)) {
        watcherAppeared();
    }
}

DBusTray::~DBusTray() {
    delete watcher_;
    bus_.unregisterObject(QString::fromLatin1(kMenuPath));
    bus_.unregisterObject(QString::fromLatin1(kItemPath));
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
    attempts_ = 0;
    setState(true, false, false);
    registerItem();
}

void DBusTray::registerItem() {
    ++attempts_;
    ++round_;
    auto message = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService,
                                                  QStringLiteral("RegisterStatusNotifierItem"));
    message << QString::fromLatin1(kItemPath);
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(message), item_.get());
    QObject::connect(call, &QDBusPendingCallWatcher::finished, item_.get(),
                     [this, round = round_](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         // Dropped before this answer came, or registered again since: out of date.
                         if (!hasWatcher_ || round != round_) {
                             return;
                         }
                         if (!finished->isError()) {
                             setState(true, true, false);
                         }
                         // Accepted or not, what counts is whether the watcher lists it.
                         recheck_->start();
                     });
}

void DBusTray::checkListed() {
    if (!hasWatcher_) {
        return;
    }
    auto message = QDBusMessage::createMethodCall(kWatcherService, kWatcherPath,
                                                  kPropertiesInterface, QStringLiteral("Get"));
    message << kWatcherService << kRegisteredItems;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(message), item_.get());
    QObject::connect(call, &QDBusPendingCallWatcher::finished, item_.get(),
                     [this, round = round_](QDBusPendingCallWatcher* finished) {
                         finished->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *finished;
                         // A list read before the latest registration says nothing of it.
                         if (hasWatcher_ && !reply.isError() && round == round_) {
                             listed(reply.value().variant().toStringList());
                         }
                     });
}

bool DBusTray::namesThisItem(const QString& entry) const {
    // Watchers name an item by its connection's unique name, with the object path after it.
    const QString name = uniqueName();
    return entry == name || entry.startsWith(name + QLatin1Char('/')) ||
           entry.startsWith(name + QLatin1Char('@'));
}

void DBusTray::listed(const QStringList& items) {
    if (std::any_of(items.begin(), items.end(),
                    [&](const QString& entry) { return namesThisItem(entry); })) {
        setState(true, true, false);
    } else {
        notListed();
    }
}

void DBusTray::notListed() {
    if (attempts_ < kRegistrationAttempts) {
        setState(true, false, false);
        registerItem();
    } else {
        ++round_;
        setState(true, false, true);
    }
}

void DBusTray::setState(bool hasWatcher, bool registered, bool refused) {
    if (hasWatcher == hasWatcher_ && registered == registered_ && refused == refused_) {
        return;
    }
    hasWatcher_ = hasWatcher;
    registered_ = registered;
    refused_ = refused;
    if (onChanged) {
        onChanged();
    }
}

} // namespace varnu::qt

#include "DBusTray.moc"
