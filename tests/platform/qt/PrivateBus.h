#pragma once

// A D-Bus daemon of the test's own, so that nothing reaches the session's bus or comes from it.

#include <QProcess>
#include <QString>

namespace varnu::qt::test {

class PrivateBus {
public:
    PrivateBus();
    ~PrivateBus();

    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    // Empty when no dbus-daemon could be started.
    const QString& address() const { return address_; }

private:
    QProcess daemon_;
    QString address_;
};

} // namespace varnu::qt::test
