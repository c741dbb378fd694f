// varnu-render-icon DIR SIZE...: writes the application icon as DIR/SIZExSIZE/apps/varnu.png
// for each size, the layout of an icon theme's folder.

#include "platform/Image.h"
#include "platform/qt/SymbolIcons.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: varnu-render-icon DIR SIZE...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
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
    return 0;
}
