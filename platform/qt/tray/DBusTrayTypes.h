#pragma once

// The D-Bus structures of the StatusNotifierItem and com.canonical.dbusmenu interfaces, with
// their marshalling.
// Implements: icon pixmaps (width, height, ARGB32 bytes in network order), the tool tip, a
// menu layout node with its children, an item's properties, the names of changed properties and
// a menu event; registering them all with QtDBus.
// Does not: check what a caller sends beyond what QtDBus checks (types and shape).

#include <QDBusArgument>
#include <QDBusVariant>
#include <QImage>
#include <QList>
#include <QString>
#include <QVariantMap>

namespace varnu::qt {

struct DBusPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};
using DBusPixmapList = QList<DBusPixmap>;

// An image as StatusNotifierItem wants it: ARGB32, each pixel in network byte order.
DBusPixmap toDBusPixmap(const QImage& image);

struct DBusToolTip {
    QString iconName;
    DBusPixmapList pixmaps;
    QString title;
    QString text;
};

struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QVariantList children; // DBusMenuLayout in variants
};

struct DBusMenuItem {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuItemList = QList<DBusMenuItem>;

struct DBusMenuItemKeys {
    int id = 0;
    QStringList names;
};
using DBusMenuItemKeysList = QList<DBusMenuItemKeys>;

struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

void registerDBusTrayTypes();

QDBusArgument& operator<<(QDBusArgument& argument, const DBusPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusToolTip& toolTip);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusToolTip& toolTip);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuLayout& layout);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuLayout& layout);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuItemKeys& keys);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuItemKeys& keys);
QDBusArgument& operator<<(QDBusArgument& argument, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, DBusMenuEvent& event);

} // namespace varnu::qt

Q_DECLARE_METATYPE(varnu::qt::DBusPixmap)
Q_DECLARE_METATYPE(varnu::qt::DBusToolTip)
Q_DECLARE_METATYPE(varnu::qt::DBusMenuLayout)
Q_DECLARE_METATYPE(varnu::qt::DBusMenuItem)
Q_DECLARE_METATYPE(varnu::qt::DBusMenuItemKeys)
Q_DECLARE_METATYPE(varnu::qt::DBusMenuEvent)
