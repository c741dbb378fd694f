#include "platform/qt/tray/DBusMenuExporter.h"

#include "platform/qt/QtMenu.h"

#include <QTimer>

namespace varnu::qt {

namespace {

constexpr int kRootId = 0;

} // namespace

DBusMenuExporter::DBusMenuExporter(QtMenu& menu, QObject* parent)
    : QObject(parent)
    , menu_(menu)
    , exported_(itemProperties()) {
    changeHandler_ = menu_.addChangeHandler([this] { changed(); });
}

DBusMenuExporter::~DBusMenuExporter() {
    menu_.removeChangeHandler(changeHandler_);
}

void DBusMenuExporter::changed() {
    ++revision_;
    const QList<QVariantMap> now = itemProperties();
    const auto kinds = [](const QList<QVariantMap>& items) {
        QStringList types;
        for (const auto& item : items) {
            types << item.value(QStringLiteral("type")).toString();
        }
        return types;
    };
    if (now.size() != exported_.size() || kinds(now) != kinds(exported_)) {
        exported_ = now;
        emit LayoutUpdated(revision_, kRootId);
        return;
    }
    // The same items with other texts or states: hosts update the items they show in place.
    DBusMenuItemList updated;
    DBusMenuItemKeysList removed;
    for (int index = 0; index < now.size(); ++index) {
        if (now[index] == exported_[index]) {
            continue;
        }
        updated << DBusMenuItem{index + 1, now[index]};
        QStringList gone;
        for (auto name = exported_[index].keyBegin(); name != exported_[index].keyEnd(); ++name) {
            if (!now[index].contains(*name)) {
                gone << *name;
            }
        }
        if (!gone.isEmpty()) {
            removed << DBusMenuItemKeys{index + 1, gone};
        }
    }
    exported_ = now;
    if (!updated.isEmpty()) {
        emit ItemsPropertiesUpdated(updated, removed);
    }
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
    // An item that stands for a choice always says whether it is the chosen one: a host keeps
    // the last state it was told for an item that stops saying.
    if (isChoice(item) || item.checked) {
        shown.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        shown.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
    }
    return shown;
}

QList<QVariantMap> DBusMenuExporter::itemProperties() const {
    QList<QVariantMap> items;
    const int count = static_cast<int>(menu_.model()->items().size());
    for (int id = 1; id <= count; ++id) {
        items << properties(id);
    }
    return items;
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
