#include "platform/qt/QtStatusBar.h"

#include "platform/qt/QtMenu.h"
#include "platform/qt/SymbolIcons.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

namespace varnu::qt {

namespace {

constexpr int kTrayRetryMilliseconds = 3000;

// Trays sit on dark and on light panels: a white symbol with a dark rim reads on both.
const QColor kTraySymbol(0xF5, 0xF5, 0xF5);
const QColor kTrayRim(0x20, 0x20, 0x20, 0xB0);

} // namespace

QtStatusItem::QtStatusItem()
    : tray_(new QSystemTrayIcon)
    , retry_(new QTimer(tray_)) {
    retry_->setInterval(kTrayRetryMilliseconds);
    QObject::connect(retry_, &QTimer::timeout, tray_, [this] { showWhenPossible(); });
    QObject::connect(tray_, &QSystemTrayIcon::activated, tray_,
                     [this](QSystemTrayIcon::ActivationReason reason) {
                         // A left click opens the menu too, as a menu-bar item would.
                         if (reason == QSystemTrayIcon::Trigger && menu_ &&
                             !menu_->menu()->isVisible()) {
                             menu_->menu()->popup(QCursor::pos());
                         }
                     });
}

QtStatusItem::~QtStatusItem() {
    // The tray icon first: it must not show a menu that is going away.
    delete tray_;
    menu_.reset();
}

void QtStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    tray_->setContextMenu(nullptr);
    menu_.reset();
    if (menu) {
        menu_ = std::make_unique<QtMenu>(std::move(menu));
        tray_->setContextMenu(menu_->menu());
    }
    showWhenPossible();
}

void QtStatusItem::setImage(std::optional<SymbolImage> image) {
    image_ = std::move(image);
    if (image_) {
        tray_->setIcon(symbolIcon(image_->symbolName, kTraySymbol, kTrayRim));
        tray_->setToolTip(QString::fromStdString(image_->accessibilityDescription));
    } else {
        tray_->setIcon(QIcon());
        tray_->setToolTip(QString());
    }
    showWhenPossible();
}

bool QtStatusItem::isWaitingForTray() const {
    return retry_->isActive();
}

void QtStatusItem::showWhenPossible() {
    if (tray_->icon().isNull()) {
        return;
    }
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        retry_->stop();
        tray_->show();
    } else if (!retry_->isActive()) {
        retry_->start();
    }
}

std::shared_ptr<StatusItem> QtStatusBar::statusItem(double /*length*/) {
    // A tray icon has the size the tray gives it.
    return std::make_shared<QtStatusItem>();
}

} // namespace varnu::qt
