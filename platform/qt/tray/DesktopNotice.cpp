#include "platform/qt/tray/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace varnu::qt {

namespace {

constexpr int kServerDecidesTimeout = -1;

} // namespace

bool postDesktopNotice(const DesktopNotice& notice) {
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return false;
    }
    auto message = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                                  QStringLiteral("/org/freedesktop/Notifications"),
                                                  QStringLiteral("org.freedesktop.Notifications"),
                                                  QStringLiteral("Notify"));
    message << QStringLiteral("Varnu") << 0U << notice.icon << notice.summary << notice.body
            << QStringList() << QVariantMap() << kServerDecidesTimeout;
    return bus.send(message);
}

} // namespace varnu::qt
