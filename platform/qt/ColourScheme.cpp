#include "platform/qt/ColourScheme.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QPalette>
#include <QStyle>

namespace varnu::qt {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kSettingsInterface = QStringLiteral("org.freedesktop.portal.Settings");
const QString kAppearance = QStringLiteral("org.freedesktop.appearance");
const QString kColorScheme = QStringLiteral("color-scheme");
constexpr uint kPreferDark = 1;

// The portal wraps the value in one variant more than it declares.
uint schemeOf(QVariant value) {
    while (value.canConvert<QDBusVariant>() && value.userType() == qMetaTypeId<QDBusVariant>()) {
        value = qvariant_cast<QDBusVariant>(value).variant();
    }
    return value.toUInt();
}

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x30, 0x30, 0x30);
    const QColor base(0x24, 0x24, 0x24);
    const QColor text(0xF0, 0xF0, 0xF0);
    const QColor dimmed(0x90, 0x90, 0x90);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::PlaceholderText, dimmed);
    palette.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3A));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, QColor(0x48, 0x48, 0x48));
    palette.setColor(QPalette::Midlight, QColor(0x3C, 0x3C, 0x3C));
    palette.setColor(QPalette::Mid, QColor(0x28, 0x28, 0x28));
    palette.setColor(QPalette::Dark, QColor(0x1C, 0x1C, 0x1C));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x35, 0x84, 0xE4));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::Link, QColor(0x78, 0xAE, 0xED));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, dimmed);
    }
    return palette;
}

} // namespace

ColourScheme::ColourScheme(QDBusConnection bus, QObject* parent)
    : QObject(parent) {
    if (!bus.isConnected()) {
        return;
    }
    // Taken as the whole message: Qt 6 refuses a slot with a QDBusVariant parameter until that
    // type has been registered by name, which nothing here has done yet at start.
    bus.connect(kPortalService, kPortalPath, kSettingsInterface, QStringLiteral("SettingChanged"),
                this, SLOT(settingChanged(QDBusMessage)));
    auto message = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kSettingsInterface,
                                                  QStringLiteral("Read"));
    message << kAppearance << kColorScheme;
    auto* call = new QDBusPendingCallWatcher(bus.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<QDBusVariant> reply = *done;
        if (!reply.isError()) {
            setDark(schemeOf(reply.value().variant()) == kPreferDark);
        }
    });
}

void ColourScheme::settingChanged(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() == 3 && arguments[0].toString() == kAppearance &&
        arguments[1].toString() == kColorScheme) {
        setDark(schemeOf(arguments[2]) == kPreferDark);
    }
}

void ColourScheme::setDark(bool dark) {
    if (dark == dark_) {
        return;
    }
    dark_ = dark;
    QApplication::setPalette(dark ? darkPalette() : QApplication::style()->standardPalette());
    emit changed();
}

} // namespace varnu::qt
