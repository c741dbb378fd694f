#pragma once

// One desktop notification through org.freedesktop.Notifications.
// Implements: posting a summary and a body under the application's name with an icon, without
// waiting for the notification server's answer.
// Does not: update or withdraw a notification, or offer actions.

#include <QString>

namespace varnu::qt {

struct DesktopNotice {
    QString summary;
    QString body;
    // A file or an icon name.
    QString icon = QStringLiteral("varnu");
};

// False when there is no session bus to post it on.
bool postDesktopNotice(const DesktopNotice& notice);

} // namespace varnu::qt
