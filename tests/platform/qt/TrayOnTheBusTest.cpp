// The tray item on a session bus of the test's own, with a watcher and host of the test's own
// that does what panels do: reads the item as it registers it, drops it, asks it to activate.

#include "platform/qt/QtMenu.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/TrayPresence.h"
#include "platform/qt/tray/DBusTray.h"
#include "platform/qt/tray/DBusTrayTypes.h"
#include "platform/qt/tray/StatusNotifierItem.h"
#include "tests/platform/qt/PrivateBus.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusReply>
#include <utility>

#include <gtest/gtest.h>

namespace varnu::qt {

// A watcher that takes each item, reads its properties right away, and lists it only while
// told to keep items. It can drop an item as a busy watcher may: saying so before its list
// shows it, or while a read of its list is on the way.
class TestWatcher final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    QStringList items() {
        ++reads;
        if (!droppingOnRead.isEmpty()) {
            drop(std::exchange(droppingOnRead, QString()));
        }
        QStringList shown = keeps ? listed : QStringList();
        if (!droppedUnlisted.isEmpty()) {
            shown << std::exchange(droppedUnlisted, QString());
        }
        return shown;
    }
    // Says the item is dropped; its list shows it to one more read.
    void dropBeforeUnlisting(const QString& entry) {
        drop(entry);
        droppedUnlisted = entry;
    }

    bool keeps = true;
    // Every registration, and the entries listed now.
    QStringList registered;
    QStringList listed;
    QList<QDBusMessage> firstLooks;
    int reads = 0;
    // Dropped, and said so, as the next read of the list is answered.
    QString droppingOnRead;

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        const QString owner = message().service();
        registered << owner + service;
        // What a host reads while it sets the item up, asked before the registration returns.
        firstLooks << connection().call(
            QDBusMessage::createMethodCall(owner, service,
                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                           QStringLiteral("GetAll"))
                << QStringLiteral("org.kde.StatusNotifierItem"),
            QDBus::BlockWithGui);
        if (!keeps) {
            emit StatusNotifierItemUnregistered(owner + service);
        } else if (!listed.contains(owner + service)) {
            listed << owner + service;
        }
    }

signals:
    void StatusNotifierItemUnregistered(const QString& service);

private:
    void drop(const QString& entry) {
        listed.removeAll(entry);
        emit StatusNotifierItemUnregistered(entry);
    }

    QString droppedUnlisted;
};

namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpUntil;

class TrayOnTheBusTest : public ::testing::Test {
protected:
    // One bus for the whole suite: Qt keeps its default connection to the first bus it meets.
    static void SetUpTestSuite() {
        bus = std::make_unique<test::PrivateBus>();
        address = bus->address();
        if (!address.isEmpty()) {
            qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLocal8Bit());
        }
    }
    static void TearDownTestSuite() { bus.reset(); }
    void SetUp() override {
        if (address.isEmpty()) {
            GTEST_SKIP() << "no dbus-daemon";
        }
        host = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("test-host")));
        ASSERT_TRUE(host->isConnected());
    }
    void TearDown() override {
        item.reset();
        if (host) {
            host->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
            host->unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
        }
        pumpFor(50ms);
        host.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("test-host"));
    }
    void startWatcher() {
        host->registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                             QDBusConnection::ExportAllContents);
        host->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    }
    void startItem() {
        item = std::make_shared<QtStatusItem>([] { return false; }, presence);
        item->button()->setImage(SymbolImage{"speaker.wave.2.fill", "Volume"});
        item->setMenu(menu);
    }
    QtStatusItem& tray() { return *dynamic_cast<QtStatusItem*>(item.get()); }

    static inline std::unique_ptr<test::PrivateBus> bus;
    static inline QString address;
    std::unique_ptr<QDBusConnection> host;
    TestWatcher watcher;
    std::shared_ptr<TrayPresence> presence = std::make_shared<TrayPresence>();
    std::shared_ptr<Menu> menu = std::make_shared<Menu>();
    std::shared_ptr<StatusItem> item;
};

TEST_F(TrayOnTheBusTest, RegistersByPathWhollyAnsweredAndRefusesActivation) {
    startWatcher();
    startItem();
    ASSERT_TRUE(pumpUntil([&] { return tray().isInTray(); }, 5s));
    ASSERT_EQ(watcher.registered.size(), 1);
    const QString unique = tray().dbusTray()->uniqueName();
    EXPECT_EQ(watcher.registered[0], unique + "/StatusNotifierItem")
        << "an item by its path, with no well-known name a host would also watch";
    ASSERT_EQ(watcher.firstLooks.size(), 1);
    const auto properties = qdbus_cast<QVariantMap>(watcher.firstLooks[0].arguments().value(0));
    EXPECT_EQ(properties.value("Id").toString(), "varnu");
    EXPECT_EQ(qdbus_cast<QDBusObjectPath>(properties.value("Menu")).path(), "/MenuBar");
    EXPECT_TRUE(properties.value("ItemIsMenu").toBool());
    EXPECT_FALSE(qdbus_cast<DBusPixmapList>(properties.value("IconPixmap")).isEmpty())
        << "the icon is there from the first look";
    EXPECT_TRUE(presence->isShown());
    EXPECT_FALSE(tray().hasToldNoTray());

    // A left click in Plasma, a double click in GNOME: refused, so the host opens its menu.
    const QDBusMessage activated =
        host->call(QDBusMessage::createMethodCall(unique, "/StatusNotifierItem",
                                                  "org.kde.StatusNotifierItem", "Activate")
                       << 10 << 10,
                   QDBus::BlockWithGui);
    EXPECT_EQ(activated.type(), QDBusMessage::ErrorMessage);
    EXPECT_FALSE(tray().menu()->menu()->isVisible()) << "no menu of Varnu's own beside the host's";
}

TEST_F(TrayOnTheBusTest, RegistersAgainWhenDroppedAndTellsOnceWhenNoTrayWillShowIt) {
    watcher.keeps = false;
    startWatcher();
    bool everShown = false;
    QObject::connect(presence.get(), &TrayPresence::changed,
                     [&] { everShown = everShown || presence->isShown(); });
    startItem();
    ASSERT_TRUE(pumpUntil([&] { return tray().dbusTray()->wasRefused(); }, 20s));
    EXPECT_EQ(watcher.registered.size(), DBusTray::kRegistrationAttempts)
        << "registered again each time it was dropped, and no more";
    EXPECT_TRUE(tray().hasToldNoTray());
    EXPECT_FALSE(presence->isShown());
    pumpFor(3s);
    EXPECT_EQ(watcher.registered.size(), DBusTray::kRegistrationAttempts);
    EXPECT_FALSE(everShown) << "an answer to a registration already dropped shows nothing";

    // A watcher that keeps items again, as a restarted panel's: shown.
    host->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    watcher.keeps = true;
    pumpFor(100ms);
    host->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    EXPECT_TRUE(pumpUntil([&] { return tray().isInTray(); }, 5s));
    EXPECT_TRUE(presence->isShown());
}

TEST_F(TrayOnTheBusTest, RegistersAgainOnceForEachDropWhateverTheListSaysMeanwhile) {
    startWatcher();
    startItem();
    ASSERT_TRUE(pumpUntil([&] { return tray().isInTray(); }, 5s));
    const QString entry = tray().dbusTray()->uniqueName() + "/StatusNotifierItem";

    // Dropped while the list is read a little after the registration: the drop brings one
    // registration, and the list read before it none.
    watcher.droppingOnRead = entry;
    ASSERT_TRUE(pumpUntil([&] { return watcher.registered.size() >= 2; }, 5s))
        << "registered again when dropped";
    pumpFor(300ms);
    EXPECT_EQ(watcher.registered.size(), 2) << "one registration for one drop";
    EXPECT_TRUE(watcher.listed.contains(entry));

    // Dropped, and said so before the list stops showing it: the signal is what counts.
    const int reads = watcher.reads;
    ASSERT_TRUE(pumpUntil([&] { return watcher.reads > reads; }, 5s));
    pumpFor(100ms);
    const auto registrations = watcher.registered.size();
    watcher.dropBeforeUnlisting(entry);
    EXPECT_TRUE(pumpUntil([&] { return watcher.registered.size() > registrations; }, 5s))
        << "a list that still shows a dropped item does not keep it shown";
    pumpFor(300ms);
    EXPECT_EQ(watcher.registered.size(), registrations + 1);
    EXPECT_TRUE(watcher.listed.contains(entry));
    EXPECT_TRUE(tray().isInTray());
    EXPECT_TRUE(presence->isShown());
    EXPECT_FALSE(tray().hasToldNoTray());
}

TEST_F(TrayOnTheBusTest, TellsAtOnceWhenNeitherAWatcherNorAnX11TrayIsThere) {
    startItem();
    EXPECT_TRUE(tray().hasToldNoTray()) << "the offscreen platform has no X11 tray either";
    EXPECT_FALSE(presence->isShown());
}

} // namespace
} // namespace varnu::qt

#include "TrayOnTheBusTest.moc"
