#include "platform/qt/QtStatusBar.h"

#include "platform/qt/QtMenu.h"
#include "platform/qt/SymbolIcons.h"
#include "platform/qt/tray/DBusTray.h"
#include "platform/qt/tray/DesktopNotice.h"
#include "platform/qt/tray/StatusNotifierItem.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace varnu::qt {

namespace {

constexpr int kTrayRetryMilliseconds = 3000;
// Long enough for a panel started with the session to come up after Varnu.
constexpr int kNoTrayNoticeMilliseconds = 10000;

// Trays sit on dark and on light panels: a white symbol with a dark rim reads on both.
const QColor kTraySymbol(0xF5, 0xF5, 0xF5);
const QColor kTrayRim(0x20, 0x20, 0x20, 0xB0);

DesktopNotice noTrayNotice(bool german) {
    if (german) {
        return {QStringLiteral("Varnu läuft"),
                QStringLiteral("Keine Leiste zeigt sein Symbol. Starten Sie Varnu erneut, um "
                               "seine Einstellungen zu öffnen.")};
    }
    return {QStringLiteral("Varnu is running"),
            QStringLiteral("No tray shows its icon. Launch Varnu again to open its settings.")};
}

} // namespace

QtStatusItem::QtStatusItem(std::function<bool()> isGerman)
    : retry_(new QTimer)
    , noTray_(new QTimer)
    , isGerman_(std::move(isGerman)) {
    retry_->setInterval(kTrayRetryMilliseconds);
    QObject::connect(retry_, &QTimer::timeout, retry_, [this] { placeIcon(); });
    noTray_->setSingleShot(true);
    noTray_->setInterval(kNoTrayNoticeMilliseconds);
    QObject::connect(noTray_, &QTimer::timeout, noTray_, [this] {
        if (!isInTray() && isGerman_) {
            postDesktopNotice(noTrayNotice(isGerman_()));
        }
    });
    noTray_->start();
}

QtStatusItem::~QtStatusItem() {
    // The icons first: they must not show a menu that is going away.
    delete tray_;
    dbus_.reset();
    delete retry_;
    delete noTray_;
    menu_.reset();
}

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    if (tray_) {
        tray_->setContextMenu(nullptr);
    }
    if (dbus_) {
        dbus_->setMenu(nullptr);
    }
    menu_.reset();
    if (menu) {
        menu_ = std::make_unique<QtMenu>(std::move(menu));
        if (tray_) {
            tray_->setContextMenu(menu_->menu());
        }
        if (dbus_) {
            dbus_->setMenu(menu_.get());
        }
    }
    placeIcon();
}

void QtStatusItem::setImage(std::optional<SymbolImage> image) {
    image_ = std::move(image);
    icon_ = image_ ? symbolIcon(image_->symbolName, kTraySymbol, kTrayRim) : QIcon();
    if (dbus_) {
        dbus_->item().setIcon(icon_, toolTip());
    }
    if (tray_) {
        tray_->setIcon(icon_);
        tray_->setToolTip(toolTip());
    }
    placeIcon();
}

bool QtStatusItem::isWaitingForTray() const {
    return retry_->isActive() || (dbus_ && dbus_->hasWatcher() && !dbus_->isRegistered());
}

bool QtStatusItem::isInTray() const {
    return (dbus_ && dbus_->isRegistered()) || (tray_ && tray_->isVisible());
}

void QtStatusItem::placeIcon() {
    if (icon_.isNull()) {
        return;
    }
    if (!dbusTried_) {
        // Published once there is an icon: a panel reads the item's properties as it registers.
        dbusTried_ = true;
        dbus_ = DBusTray::publish();
        if (dbus_) {
            dbus_->item().setIcon(icon_, toolTip());
            dbus_->setMenu(menu_.get());
            dbus_->item().onMenuRequested = [this](QPoint at) { popUpMenu(at); };
            dbus_->onChanged = [this] { placeIcon(); };
            dbus_->registerWhenWatched();
        }
    }
    if (dbus_ && dbus_->hasWatcher()) {
        // The panel's own tray shows the item; an X11 icon as well would show it twice.
        retry_->stop();
        if (tray_) {
            tray_->hide();
        }
        return;
    }
    showInX11Tray();
}

void QtStatusItem::showInX11Tray() {
    if (!tray_) {
        // Made only while no watcher is on the bus, so that Qt settles on the X11 tray.
        tray_ = new QSystemTrayIcon;
        tray_->setIcon(icon_);
        tray_->setToolTip(toolTip());
        if (menu_) {
            tray_->setContextMenu(menu_->menu());
        }
        QObject::connect(tray_, &QSystemTrayIcon::activated, tray_,
                         [this](QSystemTrayIcon::ActivationReason reason) {
                             // A left click opens the menu too, as a menu-bar item would.
                             if (reason == QSystemTrayIcon::Trigger) {
                                 popUpMenu(QCursor::pos());
                             }
                         });
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        retry_->stop();
        tray_->show();
    } else if (!retry_->isActive()) {
        retry_->start();
    }
}

QString QtStatusItem::toolTip() const {
    return image_ ? QString::fromStdString(image_->accessibilityDescription) : QString();
}

void QtStatusItem::popUpMenu(QPoint at) {
    if (menu_ && !menu_->menu()->isVisible()) {
        menu_->menu()->popup(at);
    }
}

std::shared_ptr<StatusItem> QtStatusBar::statusItem(double /*length*/) {
    // A tray icon has the size the tray gives it.
    return std::make_shared<QtStatusItem>(isGerman_);
}

} // namespace varnu::qt
