#include "tests/platform/qt/PrivateBus.h"

namespace varnu::qt::test {

PrivateBus::PrivateBus() {
    daemon_.start(QStringLiteral("dbus-daemon"),
                  {QStringLiteral("--session"), QStringLiteral("--nofork"),
                   QStringLiteral("--print-address")});
    if (daemon_.waitForStarted() && daemon_.waitForReadyRead(5000)) {
        address_ = QString::fromLocal8Bit(daemon_.readLine()).trimmed();
    }
}

PrivateBus::~PrivateBus() {
    daemon_.kill();
    daemon_.waitForFinished();
}

} // namespace varnu::qt::test
