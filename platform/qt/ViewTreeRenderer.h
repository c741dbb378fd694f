#pragma once

// Renders a view tree with Qt Widgets and keeps the widgets in step with it.
// Implements: vertical and horizontal stacks, a grouped form of sections, pickers as combo
// boxes that change only by a choice from their open list, switches, labels with a symbol, styled
// texts, buttons, images and spacers. Updates are made in place, keyed by the nodes' identities: a
// widget lives as long as its node, an open picker is left alone unless its entries change (and
// follows the model once it closes), and the changes announced during one turn of the event loop
// are applied once, at the next turn. Nodes that appear or disappear get or lose their widgets.
// Does not: animate changes, or scroll anything but the form.

#include "platform/ViewTree.h"

#include <QPointer>
#include <map>
#include <memory>
#include <set>
#include <string>

class QAbstractButton;
class QBoxLayout;
class QComboBox;
class QLabel;
class QPushButton;
class QWidget;

namespace varnu::qt {

class SymbolView;

class ViewTreeRenderer {
public:
    // Builds the widgets at once. Requires a QApplication.
    explicit ViewTreeRenderer(std::shared_ptr<ViewContent> content);
    ~ViewTreeRenderer();

    ViewTreeRenderer(const ViewTreeRenderer&) = delete;
    ViewTreeRenderer& operator=(const ViewTreeRenderer&) = delete;

    // Holds the rendered tree; its size is the root node's. Owned by the renderer until it is
    // put into a parent widget.
    QWidget* rootWidget() const;

    // Builds the tree now and brings the widgets in line with it.
    void update();
    // Trees built so far.
    int updateCount() const { return updateCount_; }

    // The widgets that show a node; null when no shown node has the identity.
    QWidget* widgetFor(const std::string& id) const;
    QComboBox* pickerFor(const std::string& id) const;
    QAbstractButton* toggleFor(const std::string& id) const;
    QPushButton* buttonFor(const std::string& id) const;
    // The text of a label, text, section header, picker or switch.
    QLabel* textFor(const std::string& id) const;
    SymbolView* symbolFor(const std::string& id) const;

private:
    struct Rendered;

    void scheduleUpdate();
    std::string sync(const ViewNode& node, ViewKind parentKind, const std::string& parentKey,
                     std::size_t index, std::set<std::string>& seen, bool& created);
    std::unique_ptr<Rendered> create(const ViewNode& node, ViewKind parentKind,
                                     const std::string& key);
    void apply(Rendered& rendered, const ViewNode& node);
    void relayout(Rendered& parent);
    void forget(const std::string& key, const std::set<std::string>& seen);
    const Rendered* find(const std::string& id) const;

    void picked(const std::string& key, int index);
    void toggled(const std::string& key, bool isOn);
    void pressed(const std::string& key);

    std::shared_ptr<ViewContent> content_;
    QPointer<QWidget> holder_;
    QBoxLayout* holderLayout_ = nullptr;
    std::map<std::string, std::unique_ptr<Rendered>> rendered_;
    std::string rootKey_;
    bool updateQueued_ = false;
    int updateCount_ = 0;
};

} // namespace varnu::qt
