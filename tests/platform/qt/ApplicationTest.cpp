// The application object on Qt's event loop, and the single-instance guard.

#include "platform/qt/QtApplication.h"
#include "platform/qt/SingleInstance.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varnu::qt {
namespace {

using test::pumpUntil;

struct RecordingDelegate final : ApplicationDelegate {
    void applicationDidFinishLaunching() override { atLaunch(); }
    bool applicationShouldHandleReopen(bool hasVisibleWindows) override {
        reopens.push_back(hasVisibleWindows);
        return true;
    }
    void applicationWillTerminate() override { ++terminations; }

    std::function<void()> atLaunch = [] {};
    int terminations = 0;
    std::vector<bool> reopens;
};

TEST(QtApplicationTest, LaunchesInsideTheLoopAndTerminatesOnce) {
    QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    int launches = 0;
    delegate->atLaunch = [&] {
        ++launches;
        application.terminate();
        application.terminate();
    };
    application.setActivationPolicy(ActivationPolicy::Accessory);
    application.setDelegate(delegate);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
    application.run();
    EXPECT_EQ(launches, 1);
    EXPECT_EQ(delegate->terminations, 1);
    application.reopen();
    EXPECT_TRUE(delegate->reopens.empty()) << "reopened while quitting";
}

TEST(SingleInstanceTest, ASecondLaunchMakesTheFirstReopenAndLeaves) {
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QtApplication application;
    auto delegate = std::make_shared<RecordingDelegate>();
    application.setDelegate(delegate);
    SingleInstance first(QStringLiteral("varnu-test"), folder.path());
    ASSERT_TRUE(first.claim());
    first.setReopenHandler([&] { application.reopen(); });

    SingleInstance second(QStringLiteral("varnu-test"), folder.path());
    EXPECT_FALSE(second.claim());
    EXPECT_TRUE(second.notifyRunning(2000));
    ASSERT_TRUE(pumpUntil([&] { return delegate->reopens.size() == 1; }));
    EXPECT_FALSE(delegate->reopens[0]) << "no window was visible";

    QWidget window;
    window.show();
    EXPECT_TRUE(second.notifyRunning(2000));
    ASSERT_TRUE(pumpUntil([&] { return delegate->reopens.size() == 2; }));
    EXPECT_TRUE(delegate->reopens[1]);

    SingleInstance nobody(QStringLiteral("varnu-test-nobody"), folder.path());
    EXPECT_FALSE(nobody.notifyRunning(100));

    // An instance that died without cleaning up leaves its lock file and socket behind; another
    // name is another application.
    const pid_t crashed = ::fork();
    ASSERT_GE(crashed, 0);
    if (crashed == 0) {
        SingleInstance dying(QStringLiteral("varnu-test-crashed"), folder.path());
        ::_exit(dying.claim() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(crashed, &status, 0), crashed);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(
        QDir(folder.path()).exists(QStringLiteral("varnu-test-crashed-%1.lock").arg(::getuid())));
    SingleInstance successor(QStringLiteral("varnu-test-crashed"), folder.path());
    ASSERT_TRUE(successor.claim());
    int successorReopens = 0;
    successor.setReopenHandler([&] { ++successorReopens; });
    SingleInstance later(QStringLiteral("varnu-test-crashed"), folder.path());
    EXPECT_FALSE(later.claim());
    EXPECT_TRUE(later.notifyRunning(2000));
    EXPECT_TRUE(pumpUntil([&] { return successorReopens == 1; }));
}

TEST(SingleInstanceTest, MeetsInAPrivateFolderOfItsOwnWithoutARuntimeFolder) {
    QTemporaryDir temporary;
    const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray temporaryFolder = qgetenv("TMPDIR");
    qunsetenv("XDG_RUNTIME_DIR");
    qputenv("TMPDIR", QFile::encodeName(temporary.path()));
    const QString expected = temporary.filePath(QStringLiteral("varnu-%1").arg(::getuid()));
    const QByteArray path = QFile::encodeName(expected);
    const auto mode = [&] {
        struct stat status {};
        return ::lstat(path.constData(), &status) == 0 ? status.st_mode & 0777 : 0U;
    };
    QString problem;
    EXPECT_EQ(SingleInstance::privateFolder(problem), expected);
    EXPECT_EQ(mode(), 0700U);
    // Someone else's folder, or one open to others, or a link to a private one: refused.
    ::chmod(path.constData(), 0755);
    EXPECT_TRUE(SingleInstance::privateFolder(problem).isEmpty());
    EXPECT_TRUE(problem.contains(expected)) << problem.toStdString();
    ::rmdir(path.constData());
    ASSERT_EQ(::symlink(QFile::encodeName(temporary.path()).constData(), path.constData()), 0);
    ::chmod(QFile::encodeName(temporary.path()).constData(), 0700);
    EXPECT_TRUE(SingleInstance::privateFolder(problem).isEmpty());
    qputenv("XDG_RUNTIME_DIR", runtime);
    qputenv("TMPDIR", temporaryFolder);
}

} // namespace
} // namespace varnu::qt
