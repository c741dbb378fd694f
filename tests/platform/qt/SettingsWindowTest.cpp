// The settings window rendered from the real settings view: what it shows, how it updates and
// what its controls do.

#include "platform/qt/QtMainQueue.h"
#include "platform/qt/QtWindow.h"
#include "platform/qt/SymbolView.h"
#include "platform/qt/ViewTreeRenderer.h"
#include "platform/sim/SimPreferredLanguages.h"
#include "platform/sim/SimUserDefaults.h"
#include "settings/SettingsModel.h"
#include "settings/SettingsView.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace varnu::qt {
namespace {

using test::pumpPosted;

int topIn(QWidget* widget, QWidget* window) {
    return widget->mapTo(window, QPoint(0, 0)).y();
}
int leftIn(QWidget* widget, QWidget* window) {
    return widget->mapTo(window, QPoint(0, 0)).x();
}

// Every node of the tree has its widget, showing the node's values, placed in the tree's order.
void expectFollows(const ViewTreeRenderer& renderer, const ViewNode& node, QWidget* window) {
    SCOPED_TRACE("node " + node.id);
    QWidget* widget = renderer.widgetFor(node.id);
    ASSERT_NE(widget, nullptr);
    EXPECT_TRUE(widget->isVisibleTo(window));
    switch (node.kind) {
    case ViewKind::Section:
    case ViewKind::Text:
        EXPECT_EQ(renderer.textFor(node.id)->text().toStdString(), node.text);
        break;
    case ViewKind::Label:
        EXPECT_EQ(renderer.textFor(node.id)->text().toStdString(), node.text);
        EXPECT_EQ(renderer.symbolFor(node.id)->symbol(), node.symbol);
        break;
    case ViewKind::Image:
        EXPECT_EQ(renderer.symbolFor(node.id)->symbol(), node.symbol);
        break;
    case ViewKind::Picker: {
        EXPECT_EQ(renderer.textFor(node.id)->text().toStdString(), node.text);
        QComboBox* combo = renderer.pickerFor(node.id);
        ASSERT_EQ(combo->count(), static_cast<int>(node.entries.size()));
        int marked = -1;
        for (int index = 0; index < combo->count(); ++index) {
            const auto& entry = node.entries[static_cast<std::size_t>(index)];
            EXPECT_EQ(combo->itemText(index).toStdString(), entry.title);
            if (node.selectedTag == entry.tag) {
                marked = index;
            }
        }
        EXPECT_EQ(combo->currentIndex(), marked);
        break;
    }
    case ViewKind::Toggle:
        EXPECT_EQ(renderer.textFor(node.id)->text().toStdString(), node.text);
        EXPECT_EQ(renderer.toggleFor(node.id)->isChecked(), node.isOn);
        break;
    case ViewKind::Button:
        EXPECT_EQ(renderer.buttonFor(node.id)->text().toStdString(), node.text);
        break;
    default:
        break;
    }
    const ViewNode* previous = nullptr;
    for (const auto& child : node.children) {
        expectFollows(renderer, child, window);
        if (previous && child.kind != ViewKind::Spacer) {
            QWidget* before = renderer.widgetFor(previous->id);
            QWidget* after = renderer.widgetFor(child.id);
            if (node.kind == ViewKind::HStack) {
                EXPECT_LT(leftIn(before, window), leftIn(after, window)) << child.id;
            } else {
                EXPECT_LT(topIn(before, window), topIn(after, window)) << child.id;
            }
        }
        previous = &child;
    }
}

std::vector<std::string> textsOf(const ViewNode& node) {
    std::vector<std::string> texts;
    if (!node.text.empty()) {
        texts.push_back(node.text);
    }
    for (const auto& entry : node.entries) {
        texts.push_back(entry.title);
    }
    for (const auto& child : node.children) {
        auto more = textsOf(child);
        texts.insert(texts.end(), more.begin(), more.end());
    }
    return texts;
}

class SettingsWindowTest : public ::testing::Test {
protected:
    SettingsWindowTest() {
        model->setDevices({{2, "speakers", "Built-in Speakers"}, {3, "display", "DELL U2723QE"}});
        model->setSelectedUID("display");
        model->setControlInfo("Control: monitor (DDC) – 35%");
        window = std::make_shared<QtWindow>(view);
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
    void expectWindowFollowsTheTree() {
        window->widget()->layout()->activate();
        expectFollows(renderer(), view->body(), window->widget());
    }

    std::shared_ptr<QtMainQueue> mainQueue = std::make_shared<QtMainQueue>();
    std::shared_ptr<sim::SimUserDefaults> defaults = std::make_shared<sim::SimUserDefaults>();
    std::shared_ptr<sim::SimPreferredLanguages> languages =
        std::make_shared<sim::SimPreferredLanguages>(std::vector<std::string>{"en-US"});
    std::shared_ptr<SettingsModel> model = std::make_shared<SettingsModel>(defaults);
    std::shared_ptr<SettingsView> view =
        SettingsView::create(model, defaults, languages, mainQueue);
    std::shared_ptr<QtWindow> window;
};

TEST_F(SettingsWindowTest, ShowsTheTreeInEnglishAndGermanInAFixedWindow) {
    QWidget* widget = window->widget();
    EXPECT_EQ(widget->windowTitle(), QStringLiteral("Varnu"));
    EXPECT_EQ(widget->size(), QSize(460, 600));
    EXPECT_EQ(widget->minimumSize(), widget->maximumSize()) << "not resizable";
    // Closing hides; the same window comes back.
    EXPECT_TRUE(widget->close());
    pumpPosted();
    EXPECT_FALSE(window->isVisible());
    window->makeKeyAndOrderFront();
    EXPECT_EQ(window->widget(), widget);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(widget->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(widget->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(widget->windowFlags() & Qt::WindowMaximizeButtonHint);
    expectWindowFollowsTheTree();
    EXPECT_EQ(renderer().textFor("output")->text(), QStringLiteral("Output device"));
    EXPECT_EQ(renderer().pickerFor("output.picker")->currentText(), QStringLiteral("DELL U2723QE"));
    EXPECT_EQ(renderer().pickerFor("general.step")->currentText(), QStringLiteral("Normal (6%)"));
    EXPECT_EQ(renderer().buttonFor("keys.open")->text(),
              QString::fromUtf8("Open System Settings\u2026"));

    // Choosing Deutsch turns every text German at once.
    const auto english = textsOf(view->body());
    emit renderer().pickerFor("general.language")->activated(1);
    pumpPosted();
    EXPECT_EQ(model->language(), "de");
    expectWindowFollowsTheTree();
    EXPECT_EQ(renderer().textFor("output")->text(), QString::fromUtf8("Ausgabeger\u00e4t"));
    EXPECT_EQ(renderer().pickerFor("general.step")->currentText(),
              QString::fromUtf8("Normal (6 %)"));
    EXPECT_EQ(renderer().buttonFor("keys.open")->text(),
              QString::fromUtf8("Systemeinstellungen \u00f6ffnen \u2026"));
    EXPECT_EQ(renderer().textFor("header.title")->text(), QStringLiteral("Varnu"));
    EXPECT_NE(textsOf(view->body()), english);
    EXPECT_EQ(widget->size(), QSize(460, 600));

    // A long device name stays inside the fixed window and leaves its label room.
    model->setDevices({{2, "hdmi", "Family 17h/19h HD Audio Controller Digital Stereo (HDMI 3)"}});
    model->setSelectedUID("hdmi");
    pumpPosted();
    widget->layout()->activate();
    QComboBox* devices = renderer().pickerFor("output.picker");
    const int right = devices->mapTo(widget, QPoint(devices->width(), 0)).x();
    EXPECT_LE(right, widget->width());
    EXPECT_GE(renderer().textFor("output.picker")->width(), 80);
    EXPECT_EQ(widget->size(), QSize(460, 600));
}

TEST_F(SettingsWindowTest, UpdatesInPlaceAndLeavesAnOpenPickerOpen) {
    QComboBox* devices = renderer().pickerFor("output.picker");
    QComboBox* step = renderer().pickerFor("general.step");
    QAbstractButton* overlay = renderer().toggleFor("general.showHUD");
    QLabel* info = renderer().textFor("output.info");
    QWidget* keys = renderer().widgetFor("keys");
    const int builds = renderer().updateCount();

    devices->showPopup();
    ASSERT_TRUE(devices->view()->isVisible());
    // What the 2-second refresh does: the same values again, and a new level in the info line.
    model->setDevices(model->devices());
    model->setSelectedUID("display");
    model->setControlInfo("Control: monitor (DDC) – 41%");
    model->setAutostart(false);
    model->setAccessibilityOK(false);
    pumpPosted();

    EXPECT_EQ(renderer().updateCount(), builds + 1) << "one turn's changes are applied once";
    EXPECT_EQ(renderer().pickerFor("output.picker"), devices);
    EXPECT_EQ(renderer().pickerFor("general.step"), step);
    EXPECT_EQ(renderer().toggleFor("general.showHUD"), overlay);
    EXPECT_EQ(renderer().textFor("output.info"), info);
    EXPECT_EQ(renderer().widgetFor("keys"), keys);
    EXPECT_EQ(info->text(), QString::fromUtf8("Control: monitor (DDC) \u2013 41%"));
    EXPECT_TRUE(devices->view()->isVisible()) << "the refresh closed the open picker";

    // While it is open the picker keeps what the user looks at; once closed it follows again.
    model->setSelectedUID("speakers");
    pumpPosted();
    EXPECT_TRUE(devices->view()->isVisible());
    EXPECT_EQ(devices->currentIndex(), 1);
    devices->hidePopup();
    model->setControlInfo("Control: macOS (standard)");
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

TEST_F(SettingsWindowTest, NodesThatComeAndGoGetAndLoseTheirWidgets) {
    QWidget* hideSwitch = renderer().widgetFor("general.hideMonitorOSD");
    QWidget* stepPicker = renderer().widgetFor("general.step");
    ASSERT_EQ(renderer().widgetFor("general.osdInfo"), nullptr);
    ASSERT_NE(renderer().widgetFor("keys.open"), nullptr);

    model->setOSDInfo("The monitor no longer shows its own volume overlay.");
    model->setAccessibilityOK(true);
    pumpPosted();
    QWidget* osdInfo = renderer().widgetFor("general.osdInfo");
    ASSERT_NE(osdInfo, nullptr);
    const QWidget* window = this->window->widget();
    EXPECT_LT(topIn(hideSwitch, window->window()), topIn(osdInfo, window->window()));
    EXPECT_LT(topIn(osdInfo, window->window()), topIn(stepPicker, window->window()));
    EXPECT_EQ(renderer().widgetFor("general.hideMonitorOSD"), hideSwitch);
    EXPECT_EQ(renderer().widgetFor("keys.missing"), nullptr);
    EXPECT_EQ(renderer().widgetFor("keys.explanation"), nullptr);
    EXPECT_EQ(renderer().widgetFor("keys.open"), nullptr);
    ASSERT_NE(renderer().symbolFor("keys.active"), nullptr);
    EXPECT_EQ(renderer().symbolFor("keys.active")->symbol(), "checkmark.circle.fill");
    expectWindowFollowsTheTree();

    model->setOSDInfo("");
    model->setAccessibilityOK(false);
    pumpPosted();
    EXPECT_EQ(renderer().widgetFor("general.osdInfo"), nullptr);
    EXPECT_EQ(renderer().widgetFor("keys.active"), nullptr);
    ASSERT_NE(renderer().symbolFor("keys.missing"), nullptr);
    EXPECT_EQ(renderer().symbolFor("keys.missing")->symbol(), "exclamationmark.triangle.fill");
    expectWindowFollowsTheTree();
}

TEST_F(SettingsWindowTest, ControlsCallTheModelAndShowWhatItHolds) {
    std::vector<std::string> selected;
    std::vector<bool> autostart;
    int accessibility = 0;
    int hideOSD = 0;
    model->onSelect = [&](const std::string& uid) { selected.push_back(uid); };
    model->onAutostart = [&](bool enabled) { autostart.push_back(enabled); };
    model->onOpenAccessibility = [&] { ++accessibility; };
    model->onHideOSD = [&] { ++hideOSD; };

    // The device and launch-at-login controls ask; they show what the application reports.
    QComboBox* devices = renderer().pickerFor("output.picker");
    emit devices->activated(0);
    devices->setCurrentIndex(0);
    pumpPosted();
    EXPECT_EQ(selected, std::vector<std::string>{"speakers"});
    EXPECT_EQ(devices->currentIndex(), 1) << "the mark moves only with the model";
    QAbstractButton* login = renderer().toggleFor("general.autostart");
    login->click();
    pumpPosted();
    EXPECT_EQ(autostart, std::vector<bool>{true});
    EXPECT_FALSE(login->isChecked());
    model->setAutostart(true);
    pumpPosted();
    EXPECT_TRUE(login->isChecked());

    // The preferences are assigned, and stored by the model.
    renderer().toggleFor("general.showHUD")->click();
    renderer().toggleFor("general.hideMonitorOSD")->click();
    emit renderer().pickerFor("general.step")->activated(2);
    pumpPosted();
    EXPECT_FALSE(model->showHUD());
    EXPECT_FALSE(model->hideMonitorOSD());
    EXPECT_EQ(hideOSD, 1);
    EXPECT_EQ(model->step(), 10);
    EXPECT_EQ(defaults->values().at("step"), DefaultsValue(std::int64_t{10}));
    EXPECT_EQ(defaults->values().at("showHUD"), DefaultsValue(false));
    EXPECT_FALSE(renderer().toggleFor("general.showHUD")->isChecked());

    renderer().buttonFor("keys.open")->click();
    pumpPosted();
    EXPECT_EQ(accessibility, 1);

    // A value that no entry carries marks none.
    model->setStep(3);
    model->setLanguage("fr");
    pumpPosted();
    EXPECT_EQ(renderer().pickerFor("general.step")->currentIndex(), -1);
    EXPECT_EQ(renderer().pickerFor("general.language")->currentIndex(), -1);
}

} // namespace
} // namespace varnu::qt
