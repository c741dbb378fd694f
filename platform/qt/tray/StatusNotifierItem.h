#pragma once

// The tray item as org.kde.StatusNotifierItem, the object a panel's tray host shows.
// Implements: the item's properties (id, title, status, the icon as pixmaps in the sizes panels
// draw, the tool tip, the menu's object path, ItemIsMenu so that the panel opens the menu on a
// left click too) and their change signals; Activate and ContextMenu, from hosts that ask the
// item to show its menu itself, at the point they give.
// Does not: publish itself or register with a watcher (DBusTray does), or blink for attention.

#include "platform/qt/tray/DBusTrayTypes.h"

#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <functional>

namespace varnu::qt {

class StatusNotifierItem final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ noName)
    Q_PROPERTY(varnu::qt::DBusPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(varnu::qt::DBusPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ noName)
    Q_PROPERTY(varnu::qt::DBusPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ noName)
    Q_PROPERTY(QString IconThemePath READ noName)
    Q_PROPERTY(varnu::qt::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItem(QObject* parent = nullptr);

    void setIcon(const QIcon& icon, const QString& description);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("varnu"); }
    QString title() const { return QStringLiteral("Varnu"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString noName() const { return {}; }
    DBusPixmapList iconPixmap() const { return pixmaps_; }
    DBusPixmapList noPixmaps() const { return {}; }
    DBusToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const;

    // A host asks for the menu at a point of the screen.
    std::function<void(QPoint)> onMenuRequested;

public slots:
    void Activate(int x, int y);
    void ContextMenu(int x, int y);
    void SecondaryActivate(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    DBusPixmapList pixmaps_;
    QString description_;
};

} // namespace varnu::qt
