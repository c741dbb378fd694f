#pragma once

// One running Varnu per user.
// Implements: a lock file that one process holds for its lifetime (stale locks of dead
// processes are taken over), a local socket the holder listens on, and the message a second
// launch sends it before exiting, which the holder turns into a reopen. Both live in
// $XDG_RUNTIME_DIR (private to the user), else in a folder of the user's own in the temporary
// folder, made private (0700) and refused when someone else's or open to others; only the user
// may connect.
// Does not: pass arguments or files between instances.

#include <QLockFile>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QLocalSocket;

namespace varnu::qt {

class SingleInstance {
public:
    // name tells instances apart ("varnu", "varnu-demo"); folder is where they meet.
    SingleInstance(const QString& name, const QString& folder);
    ~SingleInstance();

    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // True when this process is now the one instance and listens for later launches.
    bool claim();
    // Tells the running instance to reopen; false when none answered within the timeout.
    bool notifyRunning(int timeoutMilliseconds = 3000);

    // Runs on the main thread for each later launch.
    void setReopenHandler(std::function<void()> handler) { onReopen_ = std::move(handler); }

    QString socketPath() const { return socketPath_; }

    // The folder where this user's instances meet; empty, with the reason in problem, when the
    // temporary folder's fixed name for it is taken by something else (another user can make it
    // first, to block Varnu or to listen in).
    static QString privateFolder(QString& problem);

private:
    void readFrom(QLocalSocket* socket);

    QString socketPath_;
    std::unique_ptr<QLockFile> lock_;
    QPointer<QLocalServer> server_;
    std::function<void()> onReopen_;
};

} // namespace varnu::qt
