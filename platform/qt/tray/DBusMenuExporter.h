#pragma once

// The tray menu exported as com.canonical.dbusmenu, for panels that draw the menu themselves.
// Implements: the layout of the core's items (id 0 the root, each item its index plus one) with
// labels, enabled states, check marks (on or off on every item that stands for a choice) and
// separators; asking the core for its items when the panel is about to show the menu; a new
// revision whenever what the items show changes, told by LayoutUpdated when items come or go and
// by ItemsPropertiesUpdated, with the changed and the dropped properties, when only texts or
// states change; a click sent back to the core by the item's index, after the call returns.
// Does not: nest submenus, filter properties by the names a caller asks for (it gets all), or
// show key equivalents (a panel's menu has no key focus; GTK panels warn about them).

#include "platform/qt/tray/DBusTrayTypes.h"

#include <QObject>
#include <functional>

namespace varnu::qt {

class QtMenu;

class DBusMenuExporter final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit DBusMenuExporter(QtMenu& menu, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

    // The layout as a panel gets it; also for the tests.
    DBusMenuLayout layout() const;
    uint revision() const { return revision_; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   varnu::qt::DBusMenuLayout& layout);
    varnu::qt::DBusMenuItemList GetGroupProperties(const QList<int>& ids,
                                                   const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const varnu::qt::DBusMenuEventList& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemsPropertiesUpdated(const varnu::qt::DBusMenuItemList& updatedProperties,
                                const varnu::qt::DBusMenuItemKeysList& removedProperties);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void changed();
    QVariantMap properties(int id) const;
    QList<QVariantMap> itemProperties() const;

    QtMenu& menu_;
    int changeHandler_ = 0;
    uint revision_ = 1;
    // The items' properties as hosts were last told them, to say what changed.
    QList<QVariantMap> exported_;
};

} // namespace varnu::qt
