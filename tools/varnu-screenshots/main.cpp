// varnu-screenshots DIR: renders the settings window (English and German, with and without the
// permission), the overlay at several levels and the tray menu into PNG files, from the real
// core running on the demo world under Qt's offscreen platform.

#include "app/AppDelegate.h"
#include "hud/HUD.h"
#include "platform/qt/DemoWorld.h"
#include "platform/qt/QtFront.h"
#include "platform/qt/QtMenu.h"
#include "platform/qt/QtOverlay.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/QtWindow.h"
#include "settings/SettingsKeys.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <cstdio>

namespace {

using namespace varnu;
using namespace varnu::qt;

void pump(int milliseconds) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < milliseconds) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
}

bool save(const QImage& image, const QString& path) {
    if (image.isNull() || !image.save(path)) {
        std::fprintf(stderr, "varnu-screenshots: could not write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// A desktop-like backdrop, so that the overlay's translucency shows.
QImage onBackdrop(const QImage& overlay) {
    QImage picture(overlay.width() + 80, overlay.height() + 80, QImage::Format_ARGB32);
    QPainter painter(&picture);
    QLinearGradient sky(0, 0, picture.width(), picture.height());
    sky.setColorAt(0, QColor(0x6C, 0x8E, 0xBF));
    sky.setColorAt(1, QColor(0xD9, 0xA5, 0x8C));
    painter.fillRect(picture.rect(), sky);
    painter.drawImage(40, 40, overlay);
    return picture;
}

// The overlay factory hands out Qt panels and remembers the last one.
class CapturingOverlays final : public OverlayFactory {
public:
    std::unique_ptr<OverlayPanel> makePanel(const OverlayDescription& description) override {
        auto panel = std::make_unique<QtOverlayPanel>(description);
        last = panel.get();
        return panel;
    }
    QtOverlayPanel* last = nullptr;
};

// Launches the core on a fresh demo world, whose first run opens the settings window, and saves
// the window and, when a path is given, the tray menu.
bool capture(const QtFront& front, const std::string& language, bool trusted,
             const QString& windowPath, const QString& menuPath) {
    DemoWorld world(front);
    world.defaults()->put(kLanguageKey, language);
    world.eventTaps()->setTrusted(trusted);
    auto delegate = startApplication(world.services());
    delegate->applicationDidFinishLaunching();
    pump(600); // the monitor's level comes back from "ddc"
    auto* window = dynamic_cast<QtWindow*>(delegate->settingsWindow.get());
    bool ok = save(window ? window->widget()->grab().toImage() : QImage(), windowPath);
    if (!menuPath.isEmpty()) {
        auto* item = dynamic_cast<QtStatusItem*>(delegate->statusItem.get());
        QMenu* menu = item && item->menu() ? item->menu()->menu() : nullptr;
        if (menu) {
            item->menu()->refresh();
            menu->adjustSize();
        }
        ok &= save(menu ? menu->grab().toImage() : QImage(), menuPath);
    }
    delegate->applicationWillTerminate();
    delegate.reset();
    pump(50);
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(QFont(QStringLiteral("DejaVu Sans"), 10));
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("screenshots"));
    if (!folder.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "varnu-screenshots: cannot create the folder\n");
        return 1;
    }
    const auto path = [&](const QString& name) { return folder.filePath(name + ".png"); };
    bool ok = true;
    const auto front = QtFront::make();
    for (const QString& language : {QStringLiteral("en"), QStringLiteral("de")}) {
        ok &= capture(front, language.toStdString(), true, path("settings-" + language),
                      path("menu-" + language));
        ok &= capture(front, language.toStdString(), false,
                      path("settings-" + language + "-no-permission"), {});
    }

    auto overlays = std::make_shared<CapturingOverlays>();
    auto hud = HUD::create(overlays, front.screens, front.mainQueue);
    const std::pair<std::int64_t, bool> levels[] = {
        {0, false}, {33, false}, {66, false}, {100, false}, {80, true}};
    for (const auto& [level, muted] : levels) {
        hud->show(level, muted);
        pump(20);
        ok &= save(onBackdrop(overlays->last->widget()->grab().toImage()),
                   path("overlay-" + (muted ? QStringLiteral("muted") : QString::number(level))));
    }
    hud.reset();
    pump(20);
    return ok ? 0 : 1;
}
