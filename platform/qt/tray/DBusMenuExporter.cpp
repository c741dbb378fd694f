#include "platform/qt/tray/DBusMenuExporter.h"

#include "platform/qt/QtMenu.h"

#include <QTimer>

namespace varnu::qt {

namespace {

constexpr int kRootId = 0;

} // namespace

DBusMenuExporter::DBusMenuExporter(QtMenu& menu, QObject* parent)
    : QObject(parent)
    , menu_(menu) {
    menu_.setChangeHandler([this] { changed(); });
}

DBusMenuExporter::~DBusMenuExporter() {
    menu_.setChangeHandler({});
}

void DBusMenuExporter::changed() {
    ++revision_;
    emit LayoutUpdated(revision_, kRootId);
}

QVariantMap DBusMenuExporter::properties(int id) const {
    if (id == kRootId) {
        return {{QStringLiteral("children-display"), QStringLiteral("submenu")}};
    }
    const auto& items = menu_.model()->items();
    const auto index = static_cast<std::size_t>(id - 1);
    if (id < kRootId || index >= items.size()) {
        return {};
    }
    const MenuItem& item = items[index];
    if (item.separator) {
        return {{QStringLiteral("type"), QStringLiteral("separator")}};
    }
    // An underscore marks a mnemonic in dbusmenu; titles are shown as they are.
    QString label = QString::fromStdString(item.title);
    label.replace(QLatin1Char('_'), QLatin1String("__"));
    QVariantMap shown{{QStringLiteral("label"), label}, {QStringLiteral("enabled"), item.enabled}};
    if (item.checked) {
        shown.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        shown.insert(QStringLiteral("toggle-state"), 1);
    }
    return shown;
}

DBusMenuLayout DBusMenuExporter::layout() const {
    DBusMenuLayout root{kRootId, properties(kRootId), {}};
    const int count = static_cast<int>(menu_.model()->items().size());
    for (int id = 1; id <= count; ++id) {
        root.children << QVariant::fromValue(DBusMenuLayout{id, properties(id), {}});
    }
    return root;
}

uint DBusMenuExporter::GetLayout(int parentId, int /*recursionDepth*/,
                                 const QStringList& /*propertyNames*/, DBusMenuLayout& layout) {
    layout =
        parentId == kRootId ? this->layout() : DBusMenuLayout{parentId, properties(parentId), {}};
    return revision_;
}

DBusMenuItemList DBusMenuExporter::GetGroupProperties(const QList<int>& ids,
                                                      const QStringList& /*propertyNames*/) {
    DBusMenuItemList items;
    for (const int id : ids) {
        items << DBusMenuItem{id, properties(id)};
    }
    return items;
}

QDBusVariant DBusMenuExporter::GetProperty(int id, const QString& name) {
    return QDBusVariant(properties(id).value(name));
}

void DBusMenuExporter::Event(int id, const QString& eventId, const QDBusVariant& /*data*/,
                             uint /*timestamp*/) {
    if (eventId == QLatin1String("opened") && id == kRootId) {
        AboutToShow(id);
    } else if (eventId == QLatin1String("clicked") && id > kRootId) {
        // The action may open a window or a modal alert: not inside the panel's call.
        QTimer::singleShot(0, this,
                           [this, id] { menu_.model()->choose(static_cast<std::size_t>(id - 1)); });
    }
}

QList<int> DBusMenuExporter::EventGroup(const DBusMenuEventList& events) {
    for (const auto& event : events) {
        Event(event.id, event.eventId, event.data, event.timestamp);
    }
    return {};
}

bool DBusMenuExporter::AboutToShow(int id) {
    if (id != kRootId) {
        return false;
    }
    const uint before = revision_;
    menu_.refresh();
    return revision_ != before;
}

QList<int> DBusMenuExporter::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
    idErrors.clear();
    QList<int> updates;
    for (const int id : ids) {
        if (AboutToShow(id)) {
            updates << id;
        }
    }
    return updates;
}

} // namespace varnu::qt
