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

#include <gtest/gtest.h>

namespace varnu::qt {

// A watcher that takes each item, reads its properties right away, and lists it only while
// told to keep items.
class TestWatcher final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)

public:
    QStringList items() const { return keeps ? registered : QStringList(); }

    bool keeps = true;
    QStringList registered;
    QList<QDBusMessage> firstLooks;

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
        }
    }

signals:
    void StatusNotifierItemUnregistered(const QString& service);
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
    startItem();
    ASSERT_TRUE(pumpUntil([&] { return tray().dbusTray()->wasRefused(); }, 20s));
    EXPECT_EQ(watcher.registered.size(), DBusTray::kRegistrationAttempts)
        << "registered again each time it was dropped, and no more";
    EXPECT_TRUE(tray().hasToldNoTray());
    EXPECT_FALSE(presence->isShown());
    pumpFor(3s);
    EXPECT_EQ(watcher.registered.size(), DBusTray::kRegistrationAttempts);

    // A watcher that keeps items again, as a restarted panel's: shown.
    host->unregisterService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    watcher.keeps = true;
    pumpFor(100ms);
    host->registerService(QStringLiteral("org.kde.StatusNotifierWatcher"));
    EXPECT_TRUE(pumpUntil([&] { return tray().isInTray(); }, 5s));
    EXPECT_TRUE(presence->isShown());
}

TEST_F(TrayOnTheBusTest, TellsAtOnceWhenNeitherAWatcherNorAnX11TrayIsThere) {
    startItem();
    EXPECT_TRUE(tray().hasToldNoTray()) << "the offscreen platform has no X11 tray either";
    EXPECT_FALSE(presence->isShown());
}

} // namespace
} // namespace varnu::qt

#include "TrayOnTheBusTest.moc"
