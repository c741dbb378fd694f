#include "platform/qt/tray/StatusNotifierItem.h"

#include "platform/qt/tray/DBusTray.h"

#include <QDBusError>

namespace varnu::qt {

namespace {

// Panels pick the pixmap nearest their bar's height; these cover the usual bars and HiDPI.
constexpr int kPixmapSizes[] = {16, 22, 24, 32, 48, 64};

} // namespace

StatusNotifierItem::StatusNotifierItem(QObject* parent)
    : QObject(parent) {}

void StatusNotifierItem::setIcon(const QString& name, const QString& themePath,
                                 const QIcon& pixmaps) {
    iconName_ = name;
    themePath_ = themePath;
    pixmaps_.clear();
    if (!pixmaps.isNull()) {
        for (const int size : kPixmapSizes) {
            pixmaps_ << toDBusPixmap(pixmaps.pixmap(size, size).toImage().scaled(size, size));
        }
    }
    emit NewIcon();
}

void StatusNotifierItem::setToolTipText(const QString& text) {
    if (text != toolTipText_) {
        toolTipText_ = text;
        emit NewToolTip();
    }
}

DBusToolTip StatusNotifierItem::toolTip() const {
    return {{}, {}, title(), toolTipText_};
}

QDBusObjectPath StatusNotifierItem::menu() const {
    return QDBusObjectPath(QString::fromLatin1(DBusTray::kMenuPath));
}

void StatusNotifierItem::refuse(const QString& why) {
    if (calledFromDBus()) {
        sendErrorReply(QDBusError::UnknownMethod, why);
    }
}

void StatusNotifierItem::Activate(int /*x*/, int /*y*/) {
    // Hosts (Plasma, GNOME's AppIndicator extension) show the exported menu when the item does
    // not take activation: one menu, the host's, on either click.
    refuse(QStringLiteral("Varnu's item is its menu"));
}

void StatusNotifierItem::ContextMenu(int x, int y) {
    if (!onMenuRequested || !onMenuRequested(QPoint(x, y))) {
        refuse(QStringLiteral("Varnu's menu is the exported one"));
    }
}

void StatusNotifierItem::SecondaryActivate(int /*x*/, int /*y*/) {}

void StatusNotifierItem::Scroll(int /*delta*/, const QString& /*orientation*/) {}

} // namespace varnu::qt
