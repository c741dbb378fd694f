// The settings window rendered from the real settings view: what it shows, how it updates,
// what its controls do, and its colours under a desktop portal of the test's own.

#include "platform/qt/ColourScheme.h"
#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtWindow.h"
#include "platform/qt/SymbolView.h"
#include "platform/qt/TrayPresence.h"
#include "platform/qt/ViewTreeRenderer.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimUserDefaults.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsView.h"
#include "tests/platform/qt/PrivateBus.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QTest>
#include <QWheelEvent>

#include <gtest/gtest.h>

namespace varnu::qt {

// The desktop portal's settings as xdg-desktop-portal tells them: 1 asks for dark.
class TestPortal final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

public:
    uint colorScheme = 1;

public slots:
    // The portal wraps the value in one variant more than its signature says.
    QDBusVariant Read(const QString&, const QString&) {
        return QDBusVariant(QVariant::fromValue(QDBusVariant(colorScheme)));
    }

signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

namespace {

using test::pumpPosted;
using test::pumpUntil;

void scrollOver(QWidget* widget, int notches) {
    const QPointF inside(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent wheel(inside, widget->mapToGlobal(inside), QPoint(),
                      QPoint(0, notches * QWheelEvent::DefaultDeltasPerStep), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

QPoint placeIn(QWidget* widget, QWidget* window) {
    return widget->mapTo(window, QPoint(0, 0));
}

// Every node of the tree has its widget, showing the node's values, placed in the tree's order.
void expectFollows(const ViewTreeRenderer& renderer, const ViewNode& node, QWidget* window) {
    SCOPED_TRACE("node " + node.id);
    ASSERT_NE(renderer.widgetFor(node.id), nullptr);
    EXPECT_TRUE(renderer.widgetFor(node.id)->isVisibleTo(window));
    const auto kind = node.kind;
    if (kind == ViewKind::Section || kind == ViewKind::Text || kind == ViewKind::Label ||
        kind == ViewKind::Picker || kind == ViewKind::Toggle) {
        EXPECT_EQ(renderer.textFor(node.id)->text().toStdString(), node.text);
    }
    if (kind == ViewKind::Label || kind == ViewKind::Image) {
        EXPECT_EQ(renderer.symbolFor(node.id)->symbol(), node.symbol);
    }
    if (kind == ViewKind::Toggle) {
        EXPECT_EQ(renderer.toggleFor(node.id)->isChecked(), node.isOn);
    }
    if (kind == ViewKind::Button) {
        EXPECT_EQ(renderer.buttonFor(node.id)->text().toStdString(), node.text);
    }
    if (kind == ViewKind::Picker) {
        QComboBox* combo = renderer.pickerFor(node.id);
        ASSERT_EQ(combo->count(), static_cast<int>(node.entries.size()));
        int marked = -1;
        for (int index = 0; index < combo->count(); ++index) {
            const auto& entry = node.entries[static_cast<std::size_t>(index)];
            EXPECT_EQ(combo->itemText(index).toStdString(), entry.title);
            marked = node.selectedTag == entry.tag ? index : marked;
        }
        EXPECT_EQ(combo->currentIndex(), marked);
    }
    const ViewNode* previous = nullptr;
    for (const auto& child : node.children) {
        expectFollows(renderer, child, window);
        if (previous && child.kind != ViewKind::Spacer) {
            const QPoint before = placeIn(renderer.widgetFor(previous->id), window);
            const QPoint after = placeIn(renderer.widgetFor(child.id), window);
            if (kind == ViewKind::HStack) {
                EXPECT_LT(before.x(), after.x()) << child.id;
            } else {
                EXPECT_LT(before.y(), after.y()) << child.id;
            }
        }
        previous = &child;
    }
}

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() {
        model->setDevices({{2, "speakers", "Built-in Speakers"}, {3, "display", "DELL U2723QE"}});
        model->setSelectedUID("display");
        model->setControlInfo("Control: monitor (DDC) – 35%");
        window->setTitle("Varnu");
        window->setStyleMask(kWindowStyleMaskTitled | kWindowStyleMaskClosable |
                             kWindowStyleMaskMiniaturizable);
        window->makeKeyAndOrderFront();
        pumpPosted();
    }
    ~SettingsWindowTest() override {
        window.reset();
        pumpPosted();
    }

    ViewTreeRenderer& renderer() { return window->renderer(); }
    // Space in the window that nothing fills: a header taller than it needs, and room under the
    // last group.
    int emptySpace() {
        pumpPosted();
        window->widget()->layout()->activate();
        QWidget* header = renderer().widgetFor("header");
        QWidget* last = renderer().widgetFor("keys");
        const int lastBottom = last->mapTo(window->widget(), QPoint(0, last->height())).y();
        return header->height() - header->sizeHint().height() + window->widget()->height() -
               lastBottom;
    }
    void expectWindowFollowsTheTree() {
        window->widget()->layout()->activate();
        expectFollows(renderer(), view->body(), window->widget());
    }

    std::shared_ptr<sim::SimUserDefaults> defaults = std::make_shared<sim::SimUserDefaults>();
    std::shared_ptr<SettingsModel> model = std::make_shared<SettingsModel>(defaults);
    std::shared_ptr<SettingsView> view = SettingsView::create(
        model, defaults,
        std::make_shared<sim::SimPreferredLanguages>(std::vector<std::string>{"en-US"}),
        std::make_shared<QtMainQueue>());
    std::shared_ptr<QtWindow> window = std::make_shared<QtWindow>(view);
};

TEST_F(SettingsWindowTest, ShowsTheTreeInEnglishAndGermanInAFixedWindow) {
    QWidget* widget = window->widget();
    EXPECT_EQ(widget->width(), 460);
    EXPECT_EQ(widget->minimumSize(), widget->maximumSize()) << "not resizable";
    // The window ends after its last group, also when the group loses rows.
    EXPECT_LT(emptySpace(), 20);
    model->setAccessibilityOK(true);
    EXPECT_LT(emptySpace(), 20);
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowMaximizeButtonHint);
    expectWindowFollowsTheTree();

    // Choosing Deutsch turns every text German at once.
    emit renderer().pickerFor("general.language")->activated(1);
    pumpPosted();
    EXPECT_EQ(model->language(), "de");
    EXPECT_EQ(renderer().textFor("output")->text(), QString::fromUtf8("Ausgabeger\u00e4t"));
    expectWindowFollowsTheTree();

    // A long device name stays inside the fixed window and leaves its label room.
    model->setDevices({{2, "hdmi", "Family 17h/19h HD Audio Controller Digital Stereo (HDMI 3)"}});
    model->setSelectedUID("hdmi");
    pumpPosted();
    widget->layout()->activate();
    QComboBox* devices = renderer().pickerFor("output.picker");
    EXPECT_LE(devices->mapTo(widget, QPoint(devices->width(), 0)).x(), widget->width());
    EXPECT_GE(renderer().textFor("output.picker")->width(), 80);
    EXPECT_EQ(widget->width(), 460);
}

TEST_F(SettingsWindowTest, UpdatesInPlaceAndLeavesAnOpenPickerOpen) {
    QComboBox* devices = renderer().pickerFor("output.picker");
    devices->showPopup();
    ASSERT_TRUE(devices->view()->isVisible());
    // What the 2-second refresh does: the same values again, and a new level in the info line.
    model->setDevices(model->devices());
    model->setSelectedUID("display");
    model->setControlInfo("Control: monitor (DDC) – 41%");
    model->setAutostart(false);
    model->setAccessibilityOK(false);
    pumpPosted();
    EXPECT_EQ(renderer().textFor("output.info")->text(),
              QString::fromUtf8("Control: monitor (DDC) \u2013 41%"));
    EXPECT_TRUE(devices->view()->isVisible()) << "the refresh closed the open picker";

    // While it is open the picker keeps what the user looks at; closed without a choice, it
    // follows the model again, with nothing else changing.
    model->setSelectedUID("speakers");
    pumpPosted();
    EXPECT_EQ(devices->currentIndex(), 1);
    QTest::keyClick(devices->view(), Qt::Key_Escape);
    ASSERT_FALSE(devices->view()->isVisible());
    pumpPosted();
    EXPECT_EQ(devices->currentIndex(), 0);
    // New entries reach even an open picker.
    devices->showPopup();
    model->setDevices({{2, "speakers", "Built-in Speakers"}, {4, "tv", "Living Room TV"}});
    pumpPosted();
    ASSERT_EQ(devices->count(), 2);
    EXPECT_EQ(devices->itemText(1), QStringLiteral("Living Room TV"));
    EXPECT_EQ(renderer().pickerFor("output.picker"), devices);
    devices->hidePopup();
    expectWindowFollowsTheTree();
}

TEST_F(SettingsWindowTest, ControlsAskTheModelAndShowOnlyWhatItHolds) {
    std::vector<std::string> selected;
    std::vector<bool> autostart;
    int accessibility = 0;
    model->onSelect = [&](const std::string& uid) { selected.push_back(uid); };
    model->onAutostart = [&](bool enabled) { autostart.push_back(enabled); };
    model->onOpenAccessibility = [&] { ++accessibility; };

    QComboBox* devices = renderer().pickerFor("output.picker");
    emit devices->activated(0);
    devices->setCurrentIndex(0);
    QAbstractButton* login = renderer().toggleFor("general.autostart");
    login->click();
    emit renderer().pickerFor("general.step")->activated(2);
    renderer().buttonFor("keys.open")->click();
    pumpPosted();
    EXPECT_EQ(selected, std::vector<std::string>{"speakers"});
    EXPECT_EQ(devices->currentIndex(), 1) << "the mark moves only with the model";
    EXPECT_EQ(autostart, std::vector<bool>{true});
    EXPECT_FALSE(login->isChecked());
    EXPECT_EQ(model->step(), 10) << "the entry's tag, not its index";
    EXPECT_EQ(accessibility, 1);
    model->setAutostart(true);
    // A value that no entry carries marks none.
    model->setStep(3);
    pumpPosted();
    EXPECT_TRUE(login->isChecked());
    EXPECT_EQ(renderer().pickerFor("general.step")->currentIndex(), -1);
}

TEST_F(SettingsWindowTest, PickersChangeOnlyByAChoiceFromTheirOpenList) {
    std::vector<std::string> selected;
    model->onSelect = [&](const std::string& uid) { selected.push_back(uid); };
    QComboBox* devices = renderer().pickerFor("output.picker");
    QComboBox* step = renderer().pickerFor("general.step");
    const int stepIndex = step->currentIndex();
    const std::int64_t stepValue = model->step();
    const auto stored = defaults->values();
    const auto unchanged = [&] {
        pumpPosted();
        EXPECT_TRUE(selected.empty()) << selected.front();
        EXPECT_EQ(model->selectedUID(), "display");
        EXPECT_EQ(devices->currentIndex(), 1);
        EXPECT_EQ(step->currentIndex(), stepIndex);
        EXPECT_EQ(model->step(), stepValue);
        EXPECT_EQ(defaults->values(), stored);
    };

    // A scroll over a closed picker.
    for (QComboBox* picker : {devices, step}) {
        scrollOver(picker, 1);
        scrollOver(picker, -1);
        scrollOver(picker, -3);
    }
    unchanged();

    // Keys on a picker that has the focus: the arrows only open the list.
    devices->setFocus();
    for (const auto key : {Qt::Key_Home, Qt::Key_End, Qt::Key_PageUp, Qt::Key_PageDown,
                           Qt::Key_Left, Qt::Key_Right, Qt::Key_B}) {
        QTest::keyClick(devices, key);
        EXPECT_FALSE(devices->view()->isVisible());
    }
    unchanged();
    for (const auto key : {Qt::Key_Up, Qt::Key_Down}) {
        QTest::keyClick(devices, key);
        EXPECT_TRUE(devices->view()->isVisible());
        QTest::keyClick(devices->view(), Qt::Key_Escape);
        EXPECT_FALSE(devices->view()->isVisible());
    }
    unchanged();

    // A choice from the open list is what changes it.
    QTest::keyClick(devices, Qt::Key_Down);
    QTest::keyClick(devices->view(), Qt::Key_Up);
    QTest::keyClick(devices->view(), Qt::Key_Return);
    pumpPosted();
    EXPECT_EQ(selected, std::vector<std::string>{"speakers"});
}

TEST_F(SettingsWindowTest, OffersQuitInTheChosenLanguageWhileNoTrayShowsTheIcon) {
    auto presence = std::make_shared<TrayPresence>();
    int quits = 0;
    presence->quit = [&] { ++quits; };
    presence->isGerman = [&] { return model->language() == "de"; };
    QtWindow withTray(view, presence);
    withTray.makeKeyAndOrderFront();
    QPushButton* quit = withTray.quitButton();
    ASSERT_NE(quit, nullptr);
    EXPECT_TRUE(quit->isVisible()) << "no tray shows the icon yet";
    EXPECT_EQ(quit->text(), QStringLiteral("Quit Varnu"));
    quit->click();
    EXPECT_EQ(quits, 1);
    presence->setShown(true);
    EXPECT_FALSE(quit->isVisible()) << "the tray's menu has Quit";
    presence->setShown(false);
    EXPECT_TRUE(quit->isVisible());
    // Deutsch chosen in the open window.
    emit withTray.renderer().pickerFor("general.language")->activated(1);
    pumpPosted();
    EXPECT_EQ(quit->text().toStdString(), "Varnu beenden");
    EXPECT_EQ(window->quitButton(), nullptr) << "a window without a tray to stand in for";
}

TEST_F(SettingsWindowTest, FollowsTheDesktopsColourSchemeWhileOpen) {
    test::PrivateBus bus;
    if (bus.address().isEmpty()) {
        GTEST_SKIP() << "no dbus-daemon";
    }
    TestPortal portal;
    QDBusConnection desktop = QDBusConnection::connectToBus(bus.address(), "test-desktop");
    desktop.registerObject("/org/freedesktop/portal/desktop", &portal,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
    desktop.registerService("org.freedesktop.portal.Desktop");
    const QPalette before = QApplication::palette();
    const auto isDarkText = [&] {
        for (const char* id : {"output", "general.showHUD"}) {
            if (renderer().textFor(id)->palette().color(QPalette::WindowText).lightness() < 128) {
                return false;
            }
        }
        return window->widget()->palette().color(QPalette::Window).lightness() < 128;
    };
    const auto setScheme = [&](uint scheme) {
        emit portal.SettingChanged("org.freedesktop.appearance", "color-scheme",
                                   QDBusVariant(scheme));
    };
    EXPECT_FALSE(isDarkText());
    {
        // The window is open before the portal's answer comes, as at a start.
        ColourScheme scheme(QDBusConnection::connectToBus(bus.address(), "test-varnu"));
        EXPECT_TRUE(pumpUntil(isDarkText)) << "light text on a dark window from the start";
        // Qt relays the portal's signal only with its value's type registered by name; only now,
        // so that Varnu meets Qt as at a start, where nothing has registered it yet.
        qRegisterMetaType<QDBusVariant>();
        setScheme(0);
        EXPECT_TRUE(pumpUntil([&] { return !scheme.isDark(); }));
        pumpPosted();
        EXPECT_FALSE(isDarkText());
        emit portal.SettingChanged("org.freedesktop.appearance", "contrast", QDBusVariant(1u));
        test::pumpFor(std::chrono::milliseconds(200));
        EXPECT_FALSE(scheme.isDark()) << "another setting than the colour scheme";
        setScheme(1);
        EXPECT_TRUE(pumpUntil(isDarkText)) << "dark again";
    }
    QApplication::setPalette(before);
    QDBusConnection::disconnectFromBus("test-varnu");
    QDBusConnection::disconnectFromBus("test-desktop");
}

} // namespace
} // namespace varnu::qt

#include "SettingsWindowTest.moc"
