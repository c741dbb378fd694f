// The renderer on trees written by hand: coalescing, moves, kind changes, odd identities, and
// actions that change the tree under the widget that sent them.

#include "platform/qt/ViewTreeRenderer.h"

#include "platform/qt/SymbolView.h"
#include "tests/platform/qt/QtTestEnvironment.h"

#include <QApplication>
#include <QBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

namespace varnu::qt {
namespace {

using test::pumpPosted;

class ScriptedContent final : public ViewContent {
public:
    ViewNode body() override {
        ++bodies;
        return tree;
    }
    void setInvalidationHandler(std::function<void()> handler) override {
        invalidate = std::move(handler);
    }

    ViewNode tree;
    int bodies = 0;
    std::function<void()> invalidate;
};

ViewNode node(ViewKind kind, std::string id, std::string text = {}) {
    ViewNode made;
    made.kind = kind;
    made.id = std::move(id);
    made.text = std::move(text);
    return made;
}

ViewNode stack(std::vector<ViewNode> children) {
    auto root = node(ViewKind::VStack, "root");
    root.children = std::move(children);
    return root;
}

int topOf(QWidget* widget) {
    return widget->mapTo(widget->window(), QPoint(0, 0)).y();
}

TEST(ViewTreeRendererTest, AppliesOneTurnOnceAndKeepsWidgetsAcrossMoves) {
    auto content = std::make_shared<ScriptedContent>();
    content->tree = stack({node(ViewKind::Text, "a", "Alpha"), node(ViewKind::Toggle, "b", "Beta"),
                           node(ViewKind::Button, "c", "Gamma")});
    ViewTreeRenderer renderer(content);
    QWidget* root = renderer.rootWidget();
    root->show();
    EXPECT_EQ(content->bodies, 1);
    QWidget* a = renderer.widgetFor("a");
    QWidget* b = renderer.widgetFor("b");
    QWidget* c = renderer.widgetFor("c");

    content->tree = stack({node(ViewKind::Button, "c", "Gamma"), node(ViewKind::Text, "a", "Alpha"),
                           node(ViewKind::Toggle, "b", "Beta")});
    for (int call = 0; call < 5; ++call) {
        content->invalidate();
    }
    EXPECT_EQ(content->bodies, 1) << "built inside the notifying turn";
    pumpPosted();
    EXPECT_EQ(content->bodies, 2);
    EXPECT_EQ(renderer.widgetFor("a"), a);
    EXPECT_EQ(renderer.widgetFor("b"), b);
    EXPECT_EQ(renderer.widgetFor("c"), c);
    root->layout()->activate();
    EXPECT_LT(topOf(c), topOf(a));
    EXPECT_LT(topOf(a), topOf(b));

    // The same identity with another kind gets a new widget; the others stay.
    auto label = node(ViewKind::Label, "a", "Alpha");
    label.symbol = "checkmark.circle.fill";
    label.color = TextColor::Green;
    content->tree =
        stack({node(ViewKind::Button, "c", "Gamma"), label, node(ViewKind::Toggle, "b", "Beta")});
    content->invalidate();
    pumpPosted();
    EXPECT_NE(renderer.widgetFor("a"), a);
    ASSERT_NE(renderer.symbolFor("a"), nullptr);
    EXPECT_EQ(renderer.symbolFor("a")->symbol(), "checkmark.circle.fill");
    EXPECT_EQ(renderer.widgetFor("b"), b);
    EXPECT_EQ(renderer.textFor("a")->palette().color(QPalette::WindowText),
              renderer.symbolFor("a")->color())
        << "a coloured label draws text and symbol alike";
}

TEST(ViewTreeRendererTest, ShowsNodesWithoutOrWithRepeatedIdentities) {
    auto content = std::make_shared<ScriptedContent>();
    content->tree =
        stack({node(ViewKind::Text, "same", "First"), node(ViewKind::Text, "same", "Second"),
               node(ViewKind::Text, "", "Third"), node(ViewKind::Text, "", "Fourth")});
    ViewTreeRenderer renderer(content);
    renderer.rootWidget()->show();
    const auto shown = [&] {
        QStringList texts;
        for (auto* label : renderer.rootWidget()->findChildren<QLabel*>()) {
            texts << (label->isVisibleTo(renderer.rootWidget()) ? label->text() : QString());
        }
        texts.removeAll(QString());
        texts.sort();
        return texts;
    };
    EXPECT_EQ(shown(), (QStringList{"First", "Fourth", "Second", "Third"}));
    content->tree.children.erase(content->tree.children.begin());
    content->invalidate();
    pumpPosted();
    EXPECT_EQ(shown(), (QStringList{"Fourth", "Second", "Third"}));
}

TEST(ViewTreeRendererTest, AppliesStackGeometryAndUpdatesItInPlace) {
    auto content = std::make_shared<ScriptedContent>();
    auto inner = node(ViewKind::HStack, "row");
    inner.spacing = 7;
    inner.padding = {.top = 1, .leading = 2, .bottom = 3, .trailing = 4};
    inner.width = 300;
    inner.children = {node(ViewKind::Text, "left", "Left"), node(ViewKind::Spacer, "gap"),
                      node(ViewKind::Text, "right", "Right")};
    content->tree = stack({inner});
    ViewTreeRenderer renderer(content);
    QWidget* row = renderer.widgetFor("row");
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(row->layout()->spacing(), 7);
    EXPECT_EQ(row->layout()->contentsMargins(), QMargins(2, 1, 4, 3));
    renderer.rootWidget()->show();
    row->layout()->activate();
    EXPECT_GT(renderer.widgetFor("right")->x(), 200) << "the spacer pushes to the far end";

    content->tree.children[0].padding.leading = 12;
    content->tree.children[0].spacing = 3;
    content->invalidate();
    pumpPosted();
    EXPECT_EQ(renderer.widgetFor("row"), row);
    EXPECT_EQ(row->layout()->contentsMargins(), QMargins(12, 1, 4, 3));
    EXPECT_EQ(row->layout()->spacing(), 3);
}

TEST(ViewTreeRendererTest, SurvivesActionsThatRemoveTheirOwnWidget) {
    auto content = std::make_shared<ScriptedContent>();
    int presses = 0;
    auto button = node(ViewKind::Button, "go", "Go");
    button.onPress = [&] {
        ++presses;
        content->tree = stack({node(ViewKind::Text, "done", "Done")});
        content->invalidate();
        // A modal dialog inside the action lets the update run before the click returns.
        QApplication::processEvents();
    };
    auto toggle = node(ViewKind::Toggle, "switch", "Switch");
    toggle.onToggle = [&](bool) {
        content->tree.children[1] = node(ViewKind::Text, "switch", "Switched");
        content->invalidate();
        QApplication::processEvents();
    };
    content->tree = stack({button, toggle});
    ViewTreeRenderer renderer(content);
    renderer.rootWidget()->show();

    renderer.toggleFor("switch")->click();
    pumpPosted();
    EXPECT_EQ(renderer.toggleFor("switch"), nullptr);
    EXPECT_EQ(renderer.textFor("switch")->text(), QStringLiteral("Switched"));

    renderer.buttonFor("go")->click();
    pumpPosted();
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(renderer.widgetFor("go"), nullptr);
    ASSERT_NE(renderer.textFor("done"), nullptr);
    EXPECT_EQ(renderer.textFor("done")->text(), QStringLiteral("Done"));
}

} // namespace
} // namespace varnu::qt
