#pragma once

// The widgets that show one node of a view tree, by the node's kind.
// Implements: making the widgets of each kind (stacks, the scrolling form, sections in their
// card, pickers, switches, labels with a symbol, texts, buttons, images, spacers) wired to the
// renderer's actions, and bringing them in line with a node, touching only what changed since
// the node last applied; an open picker keeps what the user looks at unless its entries change.
// Does not: place children (the renderer lays out each container), or call the node's own
// callbacks (the actions given do, so that they can look the node up again).

#include "platform/ViewTree.h"

#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QAbstractButton;
class QBoxLayout;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace varnu::qt {

class SymbolView;

struct RenderedNode {
    ViewKind kind = ViewKind::VStack;
    ViewKind parentKind = ViewKind::VStack;
    QPointer<QWidget> outer;
    // Where a container's children go.
    QBoxLayout* childLayout = nullptr;
    QLabel* text = nullptr;
    SymbolView* symbol = nullptr;
    QComboBox* combo = nullptr;
    QAbstractButton* toggle = nullptr;
    QPushButton* button = nullptr;
    std::vector<std::string> childKeys;
    // The node as last applied, without its children.
    ViewNode node;
    bool applied = false;
};

// What the user does to a node's widgets.
struct NodeActions {
    std::function<void(int index)> picked;
    std::function<void(bool isOn)> toggled;
    std::function<void()> pressed;
    // A picker's list closed, with or without a choice.
    std::function<void()> listClosed;
};

bool isContainer(ViewKind kind);

std::unique_ptr<RenderedNode> makeRenderedNode(const ViewNode& node, ViewKind parentKind,
                                               NodeActions actions);

// Shows the node's values; true when the container's children must be laid out again.
bool applyNode(RenderedNode& rendered, const ViewNode& node);
// Takes the colours of the node as last applied from the application's palette again, after it
// changed (the desktop turned dark or light).
void applyColours(RenderedNode& rendered);

} // namespace varnu::qt
