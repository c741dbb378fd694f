// varnu: the tray application. `varnu --demo` runs the same interface on a simulated monitor.

#include "app/AppDelegate.h"
#include "platform/Image.h"
#include "platform/linux/TerminationSignals.h"
#include "platform/linux/store/JsonUserDefaults.h"
#include "platform/qt/ColourScheme.h"
#include "platform/qt/DemoWindow.h"
#include "platform/qt/DemoWorld.h"
#include "platform/qt/LinuxServices.h"
#include "platform/qt/QtFront.h"
#include "platform/qt/SingleInstance.h"
#include "platform/qt/SymbolIcons.h"

#include <QApplication>
#include <QCommandLineParser>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef VARNU_VERSION
#define VARNU_VERSION "0"
#endif

namespace {

using namespace varnu;
using namespace varnu::qt;

int runDesktop(const QtFront& front, SingleInstance& instance) {
    // Under a file-size limit a settings write must fail with EFBIG and keep the old file,
    // not end the process.
    std::signal(SIGXFSZ, SIG_IGN);
    auto backend = makeLinuxServices(front);
    instance.setReopenHandler([application = front.application] { application->reopen(); });
    linux_backend::TerminationSignals termination(
        front.mainQueue, [application = front.application](int) { application->terminate(); });
    const int status = runApplication(backend.services);
    backend.defaults->flush();
    return status;
}

int runDemo(const QtFront& front, SingleInstance& instance) {
    DemoWorld world(front);
    instance.setReopenHandler([application = front.application] { application->reopen(); });
    linux_backend::TerminationSignals termination(
        front.mainQueue, [application = front.application](int) { application->terminate(); });
    const auto delegate = startApplication(world.services());
    DemoWindow window(world, [application = front.application] { application->terminate(); });
    window.placeLeftOfCentre();
    window.show();
    front.application->run();
    return 0;
}

constexpr const char* kUsage =
    "Usage: varnu [--demo]\n"
    "Volume keys for the speakers built into an external monitor.\n"
    "\n"
    "  --demo       run on a simulated monitor; the real system is left alone\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n";

bool hasArgument(int argc, char** argv, std::initializer_list<const char*> names) {
    for (int index = 1; index < argc; ++index) {
        for (const char* name : names) {
            if (std::strcmp(argv[index], name) == 0) {
                return true;
            }
        }
    }
    return false;
}

bool hasDesktopSession(int argc, char** argv) {
    return !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           hasArgument(argc, argv, {"-platform", "--platform"});
}

// Run by root with a user's HOME (sudo -E, su without -), Varnu would leave root-owned settings
// in that home, which the user then cannot change. Empty when there is no such problem.
std::string rootInSomeoneElsesHome() {
    const char* home = std::getenv("HOME");
    struct stat status {};
    if (::geteuid() != 0 || !home || !*home || (::stat(home, &status) == 0 && status.st_uid == 0)) {
        return {};
    }
    return std::string("varnu: run as root, but HOME (") + home +
           ") is not root's own; run varnu as the user whose home it is\n";
}

// Wayland lets no client place its own windows; where the compositor has no layer shell for the
// overlay (GNOME), an X11 window is what can sit where the pointer is, and the X11 tray is there
// for desktops without a StatusNotifierItem host. So when the session also offers an X display
// (XWayland), run there, unless the user chose: the
// arguments Qt sees get "-platform xcb;wayland" (XWayland first, the compositor itself if the X
// display does not answer). An argument, not QT_QPA_PLATFORM, so that the programs Varnu starts
// (the browser for the help page) do not inherit it.
std::vector<char*> qtArguments(int argc, char** argv) {
    static char platformOption[] = "-platform";
    static char x11First[] = "xcb;wayland";
    std::vector<char*> arguments(argv, argv + argc);
    if (argc > 0 && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") &&
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        !qEnvironmentVariableIsEmpty("DISPLAY") &&
        !hasArgument(argc, argv, {"-platform", "--platform"})) {
        arguments.insert(arguments.begin() + 1, {platformOption, x11First});
    }
    arguments.push_back(nullptr);
    return arguments;
}

} // namespace

int main(int argc, char** argv) {
    // Answered before Qt starts, so that they work without a desktop.
    if (hasArgument(argc, argv, {"-h", "--help", "-help"})) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (hasArgument(argc, argv, {"-v", "--version"})) {
        std::printf("varnu %s\n", VARNU_VERSION);
        return 0;
    }
    if (const auto problem = rootInSomeoneElsesHome(); !problem.empty()) {
        std::fputs(problem.c_str(), stderr);
        return 1;
    }
    if (!hasDesktopSession(argc, argv)) {
        std::fputs("varnu: no desktop session here (neither DISPLAY nor WAYLAND_DISPLAY is set).\n"
                   "varnu-sim --demo plays Varnu on a simulated monitor in the terminal.\n",
                   stderr);
        return 1;
    }
    auto arguments = qtArguments(argc, argv);
    // Qt keeps both for the application's lifetime and takes out the options it used.
    int qtArgc = static_cast<int>(arguments.size()) - 1;
    QApplication app(qtArgc, arguments.data());
    QApplication::setApplicationName(QStringLiteral("varnu"));
    QApplication::setApplicationDisplayName(QStringLiteral("Varnu"));
    QApplication::setApplicationVersion(QStringLiteral(VARNU_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("varnu"));
    QApplication::setWindowIcon(symbolIcon(kApplicationIconSymbol, Qt::white));
    const ColourScheme colourScheme;

    QCommandLineParser parser;
    const QCommandLineOption demo(
        QStringLiteral("demo"),
        QStringLiteral("Run on a simulated monitor; the real system is left alone."));
    parser.addOption(demo);
    parser.process(app);

    const bool isDemo = parser.isSet(demo);
    QString problem;
    const QString meetingFolder = SingleInstance::privateFolder(problem);
    if (meetingFolder.isEmpty()) {
        std::fprintf(stderr, "varnu: %s\n", qPrintable(problem));
        return 1;
    }
    SingleInstance instance(isDemo ? QStringLiteral("varnu-demo") : QStringLiteral("varnu"),
                            meetingFolder);
    if (!instance.claim()) {
        // Already running: that instance shows its settings window.
        if (instance.notifyRunning()) {
            return 0;
        }
        std::fprintf(stderr, "varnu: another instance holds the lock but does not answer\n");
        return 1;
    }
    const auto front = QtFront::make();
    return isDemo ? runDemo(front, instance) : runDesktop(front, instance);
}
