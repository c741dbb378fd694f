#pragma once

// The desktop's light or dark colour scheme, followed by Varnu's windows.
// Implements: asking the desktop portal's settings (org.freedesktop.appearance color-scheme,
// where 1 asks for dark) at start and whenever they change, and the application's palette: a
// dark one while the desktop asks for dark, the style's own otherwise.
// Does not: follow a desktop without the portal (KDE's palette reaches Qt by its own theme).

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>

namespace varnu::qt {

class ColourScheme final : public QObject {
    Q_OBJECT
public:
    // Starts following the portal on the bus, if it is connected.
    explicit ColourScheme(QDBusConnection bus = QDBusConnection::sessionBus(),
                          QObject* parent = nullptr);

    bool isDark() const { return dark_; }
    void setDark(bool dark);

public slots:
    // The portal's SettingChanged(group, key, value).
    void settingChanged(const QDBusMessage& message);

signals:
    void changed();

private:
    bool dark_ = false;
};

} // namespace varnu::qt
