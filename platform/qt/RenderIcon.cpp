// varnu-render-icon DIR SIZE...: writes the application icon as DIR/SIZExSIZE/apps/varnu.png
// for each size, and the tray's mark as DIR/scalable/apps/varnu-symbolic.svg, the layout of an
// icon theme's folder.

#include "platform/Image.h"
#include "platform/qt/SymbolIcons.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: varnu-render-icon DIR SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Drawing needs no runtime folder, but Qt warns when the build machine has none (a first
    // build without a desktop), and that warning would be the first thing a new user reads.
    QTemporaryDir runtime;
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") && runtime.isValid()) {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    }
    QGuiApplication app(argc, argv);
    const QDir root(QString::fromLocal8Bit(argv[1]));
    for (int index = 2; index < argc; ++index) {
        const int size = std::atoi(argv[index]);
        if (size <= 0) {
            std::fprintf(stderr, "varnu-render-icon: not a size: %s\n", argv[index]);
            return 2;
        }
        const QString folder = QStringLiteral("%1x%1/apps").arg(size);
        if (!root.mkpath(folder)) {
            std::fprintf(stderr, "varnu-render-icon: cannot create %s\n", qPrintable(folder));
            return 1;
        }
        const QImage icon = varnu::qt::symbolImage(varnu::kApplicationIconSymbol, size, Qt::white);
        if (!icon.save(root.filePath(folder + QStringLiteral("/varnu.png")))) {
            std::fprintf(stderr, "varnu-render-icon: cannot write the %d-pixel icon\n", size);
            return 1;
        }
    }
    const QString symbolic = QStringLiteral("scalable/apps/varnu-symbolic.svg");
    QFile svg(root.filePath(symbolic));
    if (!root.mkpath(QStringLiteral("scalable/apps")) || !svg.open(QIODevice::WriteOnly) ||
        svg.write(varnu::qt::symbolSvg(varnu::qt::kTraySymbol)) < 0) {
        std::fprintf(stderr, "varnu-render-icon: cannot write %s\n", qPrintable(symbolic));
        return 1;
    }
    return 0;
}
