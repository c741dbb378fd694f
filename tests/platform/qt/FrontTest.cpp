// The Qt front's pieces: main queue, menu, overlay, screens, tray icon and its exported menu.

#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtMenu.h"
#include "platform/qt/QtOverlay.h"
#include "platform/qt/QtScreens.h"
#include "platform/qt/QtStatusBar.h"
#include "platform/qt/tray/DBusMenuExporter.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QThread>
#include <atomic>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

#include <gtest/gtest.h>

namespace varnu::qt {
namespace {

using namespace std::chrono_literals;
using test::pumpFor;
using test::pumpPosted;
using test::pumpUntil;

TEST(QtMainQueueTest, RunsWorkOnTheGuiThreadInOrderAndHonoursCancellation) {
    QtMainQueue queue;
    std::vector<int> order;
    std::atomic<bool> onGuiThread = true;
    std::thread([&] {
        for (int index = 0; index < 3; ++index) {
            queue.async([&, index] {
                onGuiThread = onGuiThread && QThread::currentThread() == qApp->thread();
                order.push_back(index);
            });
        }
    }).join();
    EXPECT_TRUE(order.empty()) << "async work ran before the event loop turned";
    ASSERT_TRUE(pumpUntil([&] { return order.size() == 3; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(onGuiThread);

    int delayed = 0;
    int cancelled = 0;
    QElapsedTimer sinceScheduled;
    sinceScheduled.start();
    queue.asyncAfter(300ms, [&] { ++delayed; }); // nobody keeps the handle
    queue.asyncAfter(300ms, [&] { ++cancelled; })->cancel();
    pumpPosted();
    // A loaded machine may have let the delay pass by now; only then may the job have run.
    if (sinceScheduled.elapsed() < 300) {
        EXPECT_EQ(delayed, 0) << "ran before its delay";
    }
    ASSERT_TRUE(pumpUntil([&] { return delayed == 1; }));
    pumpFor(30ms);
    EXPECT_EQ(cancelled, 0);

    int ticks = 0;
    auto timer = queue.scheduleRepeatingTimer(15ms, [&] { ++ticks; });
    ASSERT_TRUE(pumpUntil([&] { return ticks >= 3; }));
    timer->cancel();
    const int stoppedAt = ticks;
    pumpFor(60ms);
    EXPECT_EQ(ticks, stoppedAt);

    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
    std::string read;
    auto watch = queue.whenReadable(ends[0], [&] {
        for (char byte = 0; ::read(ends[0], &byte, 1) == 1;) {
            read += byte;
        }
    });
    std::thread([&] { EXPECT_EQ(::write(ends[1], "a", 1), 1); }).join();
    ASSERT_TRUE(pumpUntil([&] { return read == "a"; }));
    watch->cancel();
    ASSERT_EQ(::write(ends[1], "b", 1), 1);
    pumpFor(30ms);
    EXPECT_EQ(read, "a");
    ::close(ends[0]);
    ::close(ends[1]);
}

TEST(QtMainQueueDeathTest, DropsWorkHandedOverOnceTheApplicationIsGone) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            auto queue = std::make_shared<QtMainQueue>();
            delete QCoreApplication::instance();
            // A job of a serial queue abandoned at quit, finishing late on its own thread.
            std::thread([queue] { queue->async([] { std::_Exit(3); }); }).join();
            queue->asyncAfter(1ms, [] { std::_Exit(4); })->cancel();
            queue->scheduleRepeatingTimer(1ms, [] { std::_Exit(5); })->cancel();
            queue.reset();
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

class BuildingDelegate final : public MenuDelegate {
public:
    void menuNeedsUpdate(Menu& menu) override {
        ++updates;
        menu.removeAllItems();
        build(menu);
    }
    std::function<void(Menu&)> build;
    int updates = 0;
};

TEST(QtMenuTest, RendersTheCoreItemsBeforeEachOpeningAndSendsChoicesBack) {
    auto core = std::make_shared<Menu>();
    auto delegate = std::make_shared<BuildingDelegate>();
    core->setDelegate(delegate);
    QtMenu menu(core);
    std::vector<std::string> devices{"Built-in Speakers", "DELL U2723QE & Co"};
    std::size_t checked = 1;
    std::vector<std::string> chosen;
    int quits = 0;
    const auto item = [](std::string title, MenuAction action, std::string key = {}) {
        MenuItem made;
        made.title = std::move(title);
        made.action = std::move(action);
        made.keyEquivalent = std::move(key);
        return made;
    };
    delegate->build = [&](Menu& built) {
        auto header = item("Output device for the volume keys",
                           [&](const MenuItem&) { chosen.push_back("header"); });
        header.enabled = false;
        built.addItem(header);
        for (std::size_t index = 0; index < devices.size(); ++index) {
            auto device = item(devices[index],
                               [&](const MenuItem& sender) { chosen.push_back(sender.title); });
            device.checked = index == checked;
            built.addItem(device);
        }
        built.addItem(MenuItem::separatorItem());
        // The menu is rebuilt while the chosen item's action runs, as under a modal alert.
        built.addItem(item(
            "Settings\u2026",
            [&](const MenuItem&) {
                devices.emplace_back("Living Room TV");
                core->invalidate();
                QApplication::processEvents();
            },
            ","));
        built.addItem(item(
            "Quit", [&](const MenuItem&) { ++quits; }, "q"));
    };

    emit menu.menu()->aboutToShow();
    EXPECT_EQ(delegate->updates, 1);
    const auto actions = menu.menu()->actions();
    ASSERT_EQ(actions.size(), 6);
    EXPECT_FALSE(actions[0]->isEnabled());
    EXPECT_FALSE(actions[1]->isChecked());
    EXPECT_TRUE(actions[2]->isChecked());
    EXPECT_EQ(actions[2]->text(), QStringLiteral("DELL U2723QE && Co")) << "no mnemonic";
    EXPECT_TRUE(actions[3]->isSeparator());
    EXPECT_EQ(actions[4]->text(), QString::fromUtf8("Settings\u2026"));
    EXPECT_EQ(actions[4]->shortcut(), QKeySequence(QStringLiteral("Ctrl+,")));
    EXPECT_EQ(actions[5]->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    actions[1]->trigger();
    actions[0]->trigger();
    EXPECT_EQ(chosen, std::vector<std::string>{"Built-in Speakers"}) << "a disabled item acted";

    actions[4]->trigger();
    pumpPosted();
    ASSERT_EQ(menu.menu()->actions().size(), 7);
    menu.menu()->actions()[6]->trigger();
    EXPECT_EQ(quits, 1);

    // Changes the core announces rebuild a closed menu once per turn.
    const int before = delegate->updates;
    checked = 0;
    for (int call = 0; call < 3; ++call) {
        core->invalidate();
    }
    EXPECT_EQ(delegate->updates, before);
    pumpPosted();
    EXPECT_EQ(delegate->updates, before + 1);
    EXPECT_TRUE(menu.menu()->actions()[1]->isChecked());
    EXPECT_FALSE(menu.menu()->actions()[2]->isChecked());
}

// A HUD-like panel: 200x200, the bar near the bottom, the symbol above it.
const OverlayDescription kPanel{{0, 0, 200, 200}, 22, {50, 70, 100, 90}, {25, 30, 150, 8}, 4, 0.25};

TEST(ScreenCoordinatesTest, ConvertBetweenTopDownAndBottomUp) {
    // A 1920x1080 primary with a 1280x1024 screen to its right, top edges aligned, and a
    // 1920x1080 screen below it; then a primary that does not start at the top of the desktop.
    const struct {
        QRectF topDown;
        double primaryBottom;
        Rect bottomUp;
    } screens[] = {
        {{0, 0, 1920, 1080}, 1080, {0, 0, 1920, 1080}},
        {{1920, 0, 1280, 1024}, 1080, {1920, 56, 1280, 1024}},
        {{0, 1080, 1920, 1080}, 1080, {0, -1080, 1920, 1080}},
        {{0, 200, 800, 600}, 800, {0, 0, 800, 600}},
    };
    for (const auto& screen : screens) {
        EXPECT_EQ(toBottomUp(screen.topDown, screen.primaryBottom), screen.bottomUp);
        EXPECT_EQ(toTopDown(screen.bottomUp, screen.primaryBottom), screen.topDown);
    }
    // The pointer in the top row of the primary screen is inside it, one row lower is in the
    // screen below only.
    EXPECT_TRUE(mouseInRect(toBottomUp(QPointF(10, 0), 1080), Rect{0, 0, 1920, 1080}));
    const auto belowEdge = toBottomUp(QPointF(10, 1080), 1080);
    EXPECT_FALSE(mouseInRect(belowEdge, Rect{0, 0, 1920, 1080}));
    EXPECT_TRUE(mouseInRect(belowEdge, Rect{0, -1080, 1920, 1080}));
    // A panel placed 140 above the bottom of the right-hand screen, centred on it.
    EXPECT_EQ(windowTopLeft(Point{2460, 56 + 140}, 200, 1080), QPointF(2460, 1024 - 140 - 200));

    QtScreens live;
    const QRect primary = QGuiApplication::primaryScreen()->geometry();
    EXPECT_EQ(live.mainScreen(), (Rect{0, 0, static_cast<double>(primary.width()),
                                       static_cast<double>(primary.height())}))
        << "the primary screen's lower-left corner is the origin";
    EXPECT_EQ(live.screens().at(0), live.mainScreen());
}

TEST(QtOverlayTest, DrawsTheDescriptionBottomUp) {
    QtOverlayPanel panel(kPanel);
    OverlayWidget* widget = panel.widget();
    EXPECT_EQ(widget->size(), QSize(200, 200));

    // The lower-left corner is placed in the core's bottom-up coordinates.
    panel.setFrameOrigin({300, 140});
    EXPECT_EQ(widget->pos(), QPoint(300, static_cast<int>(primaryScreenBottom()) - 340));

    // The bar fills from the left, at the bottom of the panel; the symbol sits above it.
    panel.setIconImage(SymbolImage{"speaker.wave.2.fill", ""});
    panel.setFillFrame({0, 0, 75, 8});
    const QImage picture = widget->grab().toImage();
    const auto lightness = [&](int x, int y) { return QColor(picture.pixel(x, y)).lightness(); };
    EXPECT_GT(lightness(30, 166), 240) << "filled part";
    EXPECT_LT(lightness(170, 166), 150) << "track";
    EXPECT_LT(lightness(100, 30), 100) << "background above the symbol";
    EXPECT_EQ(qAlpha(picture.pixel(1, 1)), 0) << "rounded corner";
    int symbolPixels = 0;
    for (int x = 50; x < 150; ++x) {
        symbolPixels += lightness(x, 85) > 240 ? 1 : 0;
    }
    EXPECT_GT(symbolPixels, 0);
    panel.setFillFrame({0, 0, 0, 8});
    EXPECT_LT(QColor(widget->grab().toImage().pixel(30, 166)).lightness(), 150) << "level 0";
}

TEST(QtOverlayTest, FadesOutAndRunsTheCompletionEvenWhenInterrupted) {
    QtOverlayPanel panel(kPanel);
    panel.orderFrontRegardless();
    EXPECT_TRUE(panel.widget()->isVisible());
    // The opacity only changes while the loop turns, so once the pump has returned, time
    // measured from before the fade began bounds how far the fade can be.
    int completions = 0;
    QElapsedTimer sinceFadeStart;
    sinceFadeStart.start();
    panel.animateAlphaValue(0.0, 400ms, [&] { ++completions; });
    ASSERT_TRUE(
        pumpUntil([&] { return panel.widget()->windowOpacity() < 1.0 || completions > 0; }));
    if (sinceFadeStart.elapsed() < 200) {
        EXPECT_GT(panel.widget()->windowOpacity(), 0.0) << "no fade, a jump";
    }
    ASSERT_TRUE(pumpUntil([&] { return completions == 1; }));
    EXPECT_DOUBLE_EQ(panel.widget()->windowOpacity(), 0.0);
    EXPECT_TRUE(panel.widget()->isVisible()) << "ordering out is the caller's";
    panel.orderOut();
    EXPECT_FALSE(panel.widget()->isVisible());

    // Shown again during a fade: the fade stops where it is and its completion still runs.
    panel.setAlphaValue(1.0);
    panel.orderFrontRegardless();
    panel.animateAlphaValue(0.0, 300ms, [&] { ++completions; });
    pumpFor(30ms);
    panel.setAlphaValue(1.0);
    EXPECT_FALSE(panel.isAnimating());
    ASSERT_TRUE(pumpUntil([&] { return completions == 2; }));
    pumpFor(400ms); // past the end the stopped fade would have had
    EXPECT_EQ(completions, 2);
    EXPECT_DOUBLE_EQ(panel.widget()->windowOpacity(), 1.0);
}

TEST(QtStatusItemTest, ShowsItsMarkWithTheMenusControlLineAndWaitsForATray) {
    // No session bus: the X11 tray's icon is all there is.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    QtStatusBar bar;
    auto item = bar.statusItem(kVariableStatusItemLength);
    auto* tray = dynamic_cast<QtStatusItem*>(item.get());
    ASSERT_NE(tray, nullptr);
    item->button()->setImage(SymbolImage{"speaker.wave.2.fill", "Volume"});
    EXPECT_EQ(tray->trayIcon()->toolTip(), QStringLiteral("Varnu\nVolume"));
    EXPECT_FALSE(tray->trayIcon()->icon().pixmap(22, 22).isNull());

    // The tool tip follows the menu's control line, in whatever language the core built it.
    auto menu = std::make_shared<Menu>();
    auto delegate = std::make_shared<BuildingDelegate>();
    menu->setDelegate(delegate);
    std::string control = "Control: monitor (DDC) – 35%";
    delegate->build = [&](Menu& built) {
        MenuItem header;
        header.title = "Output device for the volume keys";
        header.enabled = false;
        built.addItem(header);
        built.addItem(MenuItem::separatorItem());
        MenuItem line;
        line.title = control;
        line.enabled = false;
        built.addItem(line);
        built.addItem(MenuItem::separatorItem());
    };
    item->setMenu(menu);
    ASSERT_NE(tray->menu(), nullptr);
    menu->invalidate();
    EXPECT_TRUE(pumpUntil([&] {
        return tray->trayIcon()->toolTip() == QStringLiteral("Varnu\nControl: monitor (DDC) – 35%");
    }));
    control = "Steuerung: Monitor (DDC) – 36 %";
    menu->invalidate();
    EXPECT_TRUE(pumpUntil([&] {
        return tray->trayIcon()->toolTip() ==
               QStringLiteral("Varnu\nSteuerung: Monitor (DDC) – 36 %");
    }));
    EXPECT_EQ(tray->trayIcon()->contextMenu(), tray->menu()->menu());
    // The offscreen platform has no tray, like a desktop whose panel has not started yet.
    ASSERT_FALSE(QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_TRUE(tray->isWaitingForTray());
    EXPECT_FALSE(tray->trayIcon()->isVisible());
}

TEST(DBusMenuExporterTest, ExportsTheCoreItemsAndSendsClicksBackAfterTheCall) {
    auto core = std::make_shared<Menu>();
    auto delegate = std::make_shared<BuildingDelegate>();
    core->setDelegate(delegate);
    int chosen = 0;
    delegate->build = [&](Menu& built) {
        MenuItem header;
        header.title = "Output device";
        header.enabled = false;
        built.addItem(header);
        MenuItem device;
        device.title = "HDMI_2";
        device.checked = true;
        device.action = [&](const MenuItem&) { ++chosen; };
        built.addItem(device);
        built.addItem(MenuItem::separatorItem());
    };
    QtMenu menu(core);
    DBusMenuExporter exporter(menu);
    EXPECT_TRUE(exporter.AboutToShow(0)) << "the items are new";
    EXPECT_FALSE(exporter.AboutToShow(0)) << "nothing changed";
    const auto layout = exporter.layout();
    ASSERT_EQ(layout.children.size(), 3);
    const auto item = [&](int index) {
        return qvariant_cast<DBusMenuLayout>(layout.children[index]).properties;
    };
    EXPECT_EQ(item(0).value("enabled"), false);
    EXPECT_EQ(item(1).value("label"), "HDMI__2") << "an underscore is no mnemonic";
    EXPECT_EQ(item(1).value("toggle-state"), 1);
    EXPECT_EQ(item(2).value("type"), "separator");
    exporter.Event(2, "clicked", QDBusVariant(), 0);
    EXPECT_EQ(chosen, 0) << "the action ran inside the panel's call";
    pumpPosted();
    EXPECT_EQ(chosen, 1);
}

TEST(DBusMenuExporterTest, MarksEveryChoiceOnOrOffAndTellsHostsWhatChanged) {
    auto core = std::make_shared<Menu>();
    auto delegate = std::make_shared<BuildingDelegate>();
    core->setDelegate(delegate);
    std::string chosen = "hdmi";
    int outputs = 2;
    delegate->build = [&](Menu& built) {
        for (const std::string uid : {"hdmi", "speakers", "usb"}) {
            if (built.items().size() == static_cast<std::size_t>(outputs)) {
                break;
            }
            MenuItem device;
            device.title = uid;
            device.representedObject = uid;
            device.checked = uid == chosen;
            built.addItem(device);
        }
        built.addItem(MenuItem::separatorItem());
        MenuItem quit;
        quit.title = "Quit";
        built.addItem(quit);
    };
    QtMenu menu(core);
    DBusMenuExporter exporter(menu);
    menu.refresh();
    const auto properties = [&](int id) {
        return qvariant_cast<DBusMenuLayout>(exporter.layout().children[id - 1]).properties;
    };
    EXPECT_EQ(properties(1).value("toggle-type"), "checkmark");
    EXPECT_EQ(properties(1).value("toggle-state"), 1);
    EXPECT_EQ(properties(2).value("toggle-type"), "checkmark") << "a choice not taken says so";
    EXPECT_EQ(properties(2).value("toggle-state"), 0);
    EXPECT_FALSE(properties(4).contains("toggle-type")) << "Quit is no choice";
    EXPECT_TRUE(menu.menu()->actions()[1]->isCheckable());
    EXPECT_FALSE(menu.menu()->actions()[1]->isChecked());

    QSignalSpy updated(&exporter, &DBusMenuExporter::ItemsPropertiesUpdated);
    QSignalSpy laidOut(&exporter, &DBusMenuExporter::LayoutUpdated);
    chosen = "speakers";
    menu.refresh();
    ASSERT_EQ(updated.size(), 1);
    EXPECT_EQ(laidOut.size(), 0) << "the same items, only their states changed";
    const auto changed = qvariant_cast<DBusMenuItemList>(updated[0][0]);
    ASSERT_EQ(changed.size(), 2);
    EXPECT_EQ(changed[0].id, 1);
    EXPECT_EQ(changed[0].properties.value("toggle-state"), 0);
    EXPECT_EQ(changed[1].id, 2);
    EXPECT_EQ(changed[1].properties.value("toggle-state"), 1);

    outputs = 3;
    menu.refresh();
    EXPECT_EQ(laidOut.size(), 1) << "an output came: the layout changed";
    EXPECT_EQ(updated.size(), 1);
}

} // namespace
} // namespace varnu::qt
