#pragma once

// Renders a view tree with Qt Widgets and keeps the widgets in step with it.
// Implements: matching the tree to the widgets by the nodes' identities, so that updates are
// made in place and a widget lives as long as its node; nodes that appear or disappear get or
// lose their widgets; each container's children are laid out in the tree's order; the changes
// announced during one turn of the event loop are applied once, at the next turn; an action
// reaches the node's latest callback and the widgets then show the model again, not the wish;
// colours follow the application's palette when it changes.
// Does not: make the widgets of each kind (RenderedNode does), animate changes, or scroll
// anything but the form.

#include "platform/qt/RenderedNode.h"

#include <functional>
#include <map>
#include <set>

namespace varnu::qt {

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
    // Runs after each update, for what a window shows beside the tree.
    void setUpdateHandler(std::function<void()> handler) { updated_ = std::move(handler); }

    // The widgets that show a node; null when no shown node has the identity.
    QWidget* widgetFor(const std::string& id) const;
    QComboBox* pickerFor(const std::string& id) const;
    QAbstractButton* toggleFor(const std::string& id) const;
    QPushButton* buttonFor(const std::string& id) const;
    // The text of a label, text, section header, picker or switch.
    QLabel* textFor(const std::string& id) const;
    SymbolView* symbolFor(const std::string& id) const;

private:
    using Rendered = RenderedNode;

    void scheduleUpdate();
    std::string sync(const ViewNode& node, ViewKind parentKind, const std::string& parentKey,
                     std::size_t index, std::set<std::string>& seen, bool& created);
    std::unique_ptr<Rendered> create(const ViewNode& node, ViewKind parentKind,
                                     const std::string& key);
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
    std::function<void()> updated_;
};

} // namespace varnu::qt
