#pragma once

// The tray item as org.kde.StatusNotifierItem, the object a panel's tray host shows.
// Implements: the item's properties (id, title, status, the icon by its name in the icon theme,
// with the folder of a theme that holds it when that is not the system's, and as pixmaps in the
// sizes panels draw for hosts that take only those, the tool tip, the menu's object path,
// ItemIsMenu) and their change signals, each answered from the moment the item is on the bus.
// Activate is refused, so that hosts that ask for it on a left click show the exported menu as
// they do on a right click; ContextMenu, which only hosts that cannot show that menu send,
// asks for the item's own menu at the point they give, unless such a menu would be a window of
// its own (natively on Wayland), when it is refused too.
// Does not: publish itself or register with a watcher (DBusTray does), or blink for attention.

#include "platform/qt/tray/DBusTrayTypes.h"

#include <QDBusContext>
#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QPoint>
#include <functional>

namespace varnu::qt {

class StatusNotifierItem final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(varnu::qt::DBusPixmapList IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ noName)
    Q_PROPERTY(varnu::qt::DBusPixmapList OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ noName)
    Q_PROPERTY(varnu::qt::DBusPixmapList AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ noName)
    Q_PROPERTY(QString IconThemePath READ iconThemePath)
    Q_PROPERTY(varnu::qt::DBusToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit StatusNotifierItem(QObject* parent = nullptr);

    // The icon by name (empty for none), the folder of the icon theme that holds it (empty for
    // the system's themes), and the same picture for hosts that take only pixmaps.
    void setIcon(const QString& name, const QString& themePath, const QIcon& pixmaps);
    void setToolTipText(const QString& text);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("varnu"); }
    QString title() const { return QStringLiteral("Varnu"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString iconName() const { return iconName_; }
    QString iconThemePath() const { return themePath_; }
    QString noName() const { return {}; }
    DBusPixmapList iconPixmap() const { return pixmaps_; }
    DBusPixmapList noPixmaps() const { return {}; }
    DBusToolTip toolTip() const;
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const;

    // A host that cannot show the exported menu asks for one at a point of the screen. Null, or
    // answering false, refuses.
    std::function<bool(QPoint)> onMenuRequested;

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
    void refuse(const QString& why);

    QString iconName_;
    QString themePath_;
    DBusPixmapList pixmaps_;
    QString toolTipText_;
};

} // namespace varnu::qt
