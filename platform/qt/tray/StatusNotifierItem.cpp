#include "platform/qt/tray/StatusNotifierItem.h"

#include "platform/qt/tray/DBusTray.h"

namespace varnu::qt {

namespace {

// Panels pick the pixmap nearest their bar's height; these cover the usual bars and HiDPI.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

StatusNotifierItem::StatusNotifierItem(QObject* parent)
    : QObject(parent) {}

void StatusNotifierItem::setIcon(const QIcon& icon, const QString& description) {
    pixmaps_.clear();
    if (!icon.isNull()) {
        for (const int size : kPixmapSizes) {
            pixmaps_ << toDBusPixmap(icon.pixmap(size, size).toImage().scaled(size, size));
        }
    }
    emit NewIcon();
    if (description != description_) {
        description_ = description;
        emit NewToolTip();
    }
}

DBusToolTip StatusNotifierItem::toolTip() const {
    return {{}, {}, title(), description_};
}

QDBusObjectPath StatusNotifierItem::menu() const {
    return QDBusObjectPath(QString::fromLatin1(DBusTray::kMenuPath));
}

void StatusNotifierItem::Activate(int x, int y) {
    ContextMenu(x, y);
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    if (onMenuRequested) {
        onMenuRequested(QPoint(x, y));
    }
}

void StatusNotifierItem::SecondaryActivate(int /*x*/, int /*y*/) {}

void StatusNotifierItem::Scroll(int /*delta*/, const QString& /*orientation*/) {}

} // namespace varnu::qt
