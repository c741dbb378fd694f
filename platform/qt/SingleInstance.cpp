#include "platform/qt/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <unistd.h>

namespace varnu::qt {

namespace {

const QByteArray kReopenMessage = QByteArrayLiteral("reopen\n");

QString defaultFolder() {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
        return QString::fromLocal8Bit(runtime);
    }
    return QDir::tempPath();
}

} // namespace

SingleInstance::SingleInstance(const QString& name, const QString& folder) {
    const QString base = folder.isEmpty() ? defaultFolder() : folder;
    const QString stem = QStringLiteral("%1-%2").arg(name).arg(::getuid());
    socketPath_ = QDir(base).filePath(stem + QStringLiteral(".socket"));
    lock_ = std::make_unique<QLockFile>(QDir(base).filePath(stem + QStringLiteral(".lock")));
    lock_->setStaleLockTime(0);
}

SingleInstance::~SingleInstance() {
    if (server_) {
        server_->close();
        delete server_.data();
    }
}

bool SingleInstance::claim() {
    if (!lock_->tryLock(0)) {
        return false;
    }
    // The lock is ours, so any socket left behind belongs to an instance that died.
    QLocalServer::removeServer(socketPath_);
    server_ = new QLocalServer;
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(socketPath_)) {
        // Still the one instance; a later launch just cannot reach it.
        return true;
    }
    QObject::connect(server_.data(), &QLocalServer::newConnection, server_.data(), [this] {
        while (auto* socket = server_->nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket,
                             [this, socket] { readFrom(socket); });
            QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            readFrom(socket);
        }
    });
    return true;
}

void SingleInstance::readFrom(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        if (socket->readLine() == kReopenMessage && onReopen_) {
            onReopen_();
        }
    }
}

bool SingleInstance::notifyRunning(int timeoutMilliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    // The running instance may hold the lock but not listen yet, right after its own start.
    while (elapsed.elapsed() < timeoutMilliseconds) {
        QLocalSocket socket;
        socket.connectToServer(socketPath_);
        if (socket.waitForConnected(timeoutMilliseconds)) {
            socket.write(kReopenMessage);
            const bool sent = socket.waitForBytesWritten(timeoutMilliseconds);
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(100);
    }
    return false;
}

} // namespace varnu::qt
