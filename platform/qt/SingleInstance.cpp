#include "platform/qt/SingleInstance.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace varnu::qt {

namespace {

const QByteArray kReopenMessage = QByteArrayLiteral("reopen\n");

} // namespace

QString SingleInstance::privateFolder(QString& problem) {
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(QString::fromLocal8Bit(runtime)).exists()) {
        return QString::fromLocal8Bit(runtime);
    }
    const QString folder =
        QDir(QDir::tempPath()).filePath(QStringLiteral("varnu-%1").arg(::getuid()));
    const QByteArray path = QFile::encodeName(folder);
    if (::mkdir(path.constData(), S_IRWXU) != 0 && errno != EEXIST) {
        problem = QStringLiteral("cannot make %1: %2")
                      .arg(folder, QString::fromLocal8Bit(std::strerror(errno)));
        return {};
    }
    // Not followed through a link: the folder itself must be ours and closed to others.
    struct stat status {};
    if (::lstat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::getuid() || (status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        problem = QStringLiteral("%1 is not a private folder of yours; remove it, or set "
                                 "XDG_RUNTIME_DIR to one")
                      .arg(folder);
        return {};
    }
    return folder;
}

SingleInstance::SingleInstance(const QString& name, const QString& base) {
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
