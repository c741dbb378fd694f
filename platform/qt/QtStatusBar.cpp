#include "platform/qt/QtStatusBar.h"

#include "platform/qt/QtMenu.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/SymbolIcons.h"
#include "platform/qt/TrayPresence.h"
#include "platform/qt/tray/DBusTray.h"
#include "platform/qt/tray/DesktopNotice.h"
#include "platform/qt/tray/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMenu>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <cstdio>

namespace varnu::qt {

namespace {

constexpr int kTrayRetryMilliseconds = 3000;
const QString kSymbolicIconName = QStringLiteral("varnu-symbolic");

// The folder of an icon theme ("…/icons") whose hicolor theme holds the file, the system's
// first, then the one drawn beside the program in its build folder. Empty when none does.
QString iconFolderHolding(const QString& file) {
    const QString relative = QStringLiteral("icons/hicolor/") + file;
    const QString installed = QStandardPaths::locate(QStandardPaths::GenericDataLocation, relative);
    if (!installed.isEmpty()) {
        return installed.left(installed.size() - relative.size()) + QStringLiteral("icons");
    }
    const QDir beside(QCoreApplication::applicationDirPath());
    if (QFileInfo::exists(beside.filePath(relative))) {
        return beside.filePath(QStringLiteral("icons"));
    }
    return {};
}

// The application's icon as a file a notification server can open, else its name.
QString noticeIcon() {
    const QString file = QStringLiteral("64x64/apps/varnu.png");
    const QString folder = iconFolderHolding(file);
    return folder.isEmpty() ? QStringLiteral("varnu")
                            : QDir(folder).filePath(QStringLiteral("hicolor/") + file);
}

bool isGnome() {
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP").contains(QLatin1String("GNOME"));
}

DesktopNotice noTrayNotice(bool german) {
    if (german) {
        return {QStringLiteral("Varnu läuft, aber keine Leiste zeigt sein Symbol"),
                (isGnome()
                     ? QStringLiteral("GNOME zeigt es mit der Erweiterung AppIndicator (Paket "
                                      "gnome-shell-extension-appindicator). ")
                     : QStringLiteral("Eine Leiste mit Statussymbolen zeigt es. ")) +
                    QStringLiteral("Starten Sie Varnu erneut, um seine Einstellungen zu öffnen."),
                noticeIcon()};
    }
    return {QStringLiteral("Varnu is running, but no panel shows its icon"),
            (isGnome() ? QStringLiteral("GNOME shows it with the AppIndicator extension (package "
                                        "gnome-shell-extension-appindicator). ")
                       : QStringLiteral("A panel with status icons shows it. ")) +
                QStringLiteral("Launch Varnu again to open its settings."),
            noticeIcon()};
}

} // namespace

QtStatusItem::QtStatusItem(std::function<bool()> isGerman, std::shared_ptr<TrayPresence> presence)
    : retry_(new QTimer)
    , isGerman_(std::move(isGerman))
    , presence_(std::move(presence)) {
    retry_->setInterval(kTrayRetryMilliseconds);
    QObject::connect(retry_, &QTimer::timeout, retry_, [this] { placeIcon(); });
}

QtStatusItem::~QtStatusItem() {
    // The icons first: they must not show a menu that is going away.
    delete tray_;
    dbus_.reset();
    delete retry_;
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
        menu_->addChangeHandler([this] { updateToolTip(); });
        if (tray_) {
            tray_->setContextMenu(menu_->menu());
        }
        if (dbus_) {
            dbus_->setMenu(menu_.get());
        }
    }
    updateToolTip();
    placeIcon();
}

void QtStatusItem::setImage(std::optional<SymbolImage> image) {
    image_ = std::move(image);
    // Pixmaps are for hosts that cannot draw the symbolic icon in their panel's colour: a light
    // mark with a dark rim reads on dark panels, which most of those are, and on light ones.
    icon_ = image_
                ? symbolIcon(kTraySymbol, QColor(0xF5, 0xF5, 0xF5), QColor(0x20, 0x20, 0x20, 0xB0))
                : QIcon();
    showIconOnBus();
    if (tray_) {
        tray_->setIcon(icon_);
    }
    updateToolTip();
    placeIcon();
}

void QtStatusItem::showIconOnBus() {
    if (!dbus_) {
        return;
    }
    // Only an installed theme is found by every host; some take a name they cannot find in the
    // item's own theme folder over its pixmaps.
    const QString installed = QStandardPaths::locate(
        QStandardPaths::GenericDataLocation, QStringLiteral("icons/hicolor/scalable/apps/") +
                                                 kSymbolicIconName + QStringLiteral(".svg"));
    const bool named = !icon_.isNull() && !installed.isEmpty();
    dbus_->item().setIcon(named ? kSymbolicIconName : QString(), QString(), icon_);
}

QString QtStatusItem::toolTip() const {
    if (menu_) {
        if (const auto line = menu_->controlLine()) {
            return QString::fromStdString(*line);
        }
    }
    return image_ ? QString::fromStdString(image_->accessibilityDescription) : QString();
}

void QtStatusItem::updateToolTip() {
    if (dbus_) {
        dbus_->item().setToolTipText(toolTip());
    }
    if (tray_) {
        const QString text = toolTip();
        tray_->setToolTip(text.isEmpty() ? QStringLiteral("Varnu")
                                         : QStringLiteral("Varnu\n") + text);
    }
}

bool QtStatusItem::isWaitingForTray() const {
    return retry_->isActive() ||
           (dbus_ && dbus_->hasWatcher() && !dbus_->isRegistered() && !dbus_->wasRefused());
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
            showIconOnBus();
            updateToolTip();
            dbus_->setMenu(menu_.get());
            dbus_->item().onMenuRequested = [this](QPoint at) { return popUpMenu(at); };
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
    } else {
        showInX11Tray();
    }
    trayChanged();
}

void QtStatusItem::showInX11Tray() {
    if (!tray_) {
        // Made only while no watcher is on the bus, so that Qt settles on the X11 tray.
        tray_ = new QSystemTrayIcon;
        tray_->setIcon(icon_);
        if (menu_) {
            tray_->setContextMenu(menu_->menu());
        }
        updateToolTip();
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

void QtStatusItem::trayChanged() {
    if (presence_) {
        presence_->setShown(isInTray());
    }
    const bool watched = dbus_ && dbus_->hasWatcher();
    const bool noTray = watched ? dbus_->wasRefused() : !isInTray() && retry_->isActive();
    if (!noTray || toldNoTray_ || !isGerman_) {
        return;
    }
    toldNoTray_ = true;
    const DesktopNotice notice = noTrayNotice(isGerman_());
    std::fprintf(stderr, "varnu: %s. %s\n", qPrintable(notice.summary), qPrintable(notice.body));
    postDesktopNotice(notice);
}

bool QtStatusItem::popUpMenu(QPoint at) {
    // Natively on Wayland a menu without a parent window would be a window of its own.
    if (!menu_ || isNativeWayland()) {
        return false;
    }
    if (!menu_->menu()->isVisible()) {
        menu_->menu()->popup(at);
    }
    return true;
}

void QtStatusBar::setLanguageRule(std::function<bool()> isGerman) {
    if (presence_) {
        presence_->isGerman = isGerman;
    }
    isGerman_ = std::move(isGerman);
}

std::shared_ptr<StatusItem> QtStatusBar::statusItem(double /*length*/) {
    // A tray icon has the size the tray gives it.
    return std::make_shared<QtStatusItem>(isGerman_, presence_);
}

} // namespace varnu::qt
