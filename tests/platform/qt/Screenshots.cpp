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

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
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

bool save(const QImage& image, const QDir& folder, const QString& name) {
    if (image.isNull() || !image.save(folder.filePath(name))) {
        std::fprintf(stderr, "varnu-screenshots: could not write %s\n", qPrintable(name));
        return false;
    }
    std::printf("%s\n", qPrintable(folder.filePath(name)));
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

struct Session {
    Session(const QtFront& front, const std::string& language, bool trusted)
        : world(front) {
        world.defaults()->put(kLanguageKey, language);
        world.eventTaps()->setTrusted(trusted);
        delegate = startApplication(world.services());
        delegate->applicationDidFinishLaunching();
        // The first run opens the settings window; the monitor's level comes back from "ddc".
        pump(600);
    }
    ~Session() {
        delegate->applicationWillTerminate();
        delegate.reset();
        pump(50);
    }
    QWidget* window() const {
        auto* window = dynamic_cast<QtWindow*>(delegate->settingsWindow.get());
        return window ? window->widget() : nullptr;
    }
    QMenu* menu() const {
        auto* item = dynamic_cast<QtStatusItem*>(delegate->statusItem.get());
        if (!item || !item->menu()) {
            return nullptr;
        }
        item->menu()->refresh();
        item->menu()->menu()->adjustSize();
        return item->menu()->menu();
    }

    DemoWorld world;
    std::shared_ptr<AppDelegate> delegate;
};

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
    bool ok = true;
    const auto front = QtFront::make();

    for (const std::string language : {"en", "de"}) {
        const QString suffix = QString::fromStdString(language);
        {
            Session session(front, language, true);
            if (auto* window = session.window()) {
                ok &= save(window->grab().toImage(), folder,
                           QStringLiteral("settings-%1.png").arg(suffix));
            } else {
                ok = false;
            }
            if (auto* menu = session.menu()) {
                ok &=
                    save(menu->grab().toImage(), folder, QStringLiteral("menu-%1.png").arg(suffix));
            } else {
                ok = false;
            }
        }
        {
            Session session(front, language, false);
            if (auto* window = session.window()) {
                ok &= save(window->grab().toImage(), folder,
                           QStringLiteral("settings-%1-no-permission.png").arg(suffix));
            } else {
                ok = false;
            }
        }
    }

    auto overlays = std::make_shared<CapturingOverlays>();
    auto hud = HUD::create(overlays, front.screens, front.mainQueue);
    const struct {
        std::int64_t level;
        bool muted;
        const char* name;
    } levels[] = {{0, false, "overlay-0.png"},
                  {33, false, "overlay-33.png"},
                  {66, false, "overlay-66.png"},
                  {100, false, "overlay-100.png"},
                  {80, true, "overlay-muted.png"}};
    for (const auto& shown : levels) {
        hud->show(shown.level, shown.muted);
        pump(20);
        ok &= save(onBackdrop(overlays->last->widget()->grab().toImage()), folder,
                   QString::fromLatin1(shown.name));
    }
    hud.reset();
    pump(20);
    return ok ? 0 : 1;
}
