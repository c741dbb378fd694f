#include "platform/qt/ViewTreeRenderer.h"

#include "platform/qt/RenderedNode.h"
#include "platform/qt/ViewStyle.h"

#include <QBoxLayout>
#include <QEvent>
#include <QLabel>
#include <QTimer>

namespace varnu::qt {

namespace {

// Tells when the palette a widget inherits changes, as when the desktop turns dark.
class PaletteWatch final : public QObject {
public:
    PaletteWatch(QWidget* widget, std::function<void()> changed)
        : QObject(widget)
        , changed_(std::move(changed)) {
        widget->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange) {
            changed_();
        }
        return false;
    }

private:
    std::function<void()> changed_;
};

} // namespace

ViewTreeRenderer::ViewTreeRenderer(std::shared_ptr<ViewContent> content)
    : content_(std::move(content))
    , holder_(new QWidget) {
    holderLayout_ = new QVBoxLayout(holder_);
    holderLayout_->setContentsMargins(0, 0, 0, 0);
    holderLayout_->setSpacing(0);
    holderLayout_->setSizeConstraint(QLayout::SetFixedSize);
    content_->setInvalidationHandler([this] { scheduleUpdate(); });
    // Texts and symbols take their colours from the palette when they are made; they follow it.
    new PaletteWatch(holder_, [this] {
        for (auto& [key, rendered] : rendered_) {
            applyColours(*rendered);
        }
    });
    update();
}

ViewTreeRenderer::~ViewTreeRenderer() {
    content_->setInvalidationHandler({});
    rendered_.clear();
    delete holder_.data();
}

QWidget* ViewTreeRenderer::rootWidget() const {
    return holder_;
}

void ViewTreeRenderer::scheduleUpdate() {
    if (updateQueued_ || !holder_) {
        return;
    }
    updateQueued_ = true;
    QTimer::singleShot(0, holder_, [this] {
        updateQueued_ = false;
        update();
    });
}

void ViewTreeRenderer::update() {
    const ViewNode tree = content_->body();
    std::set<std::string> seen;
    bool created = false;
    const auto rootKey = sync(tree, ViewKind::VStack, "", 0, seen, created);
    if (rootKey != rootKey_ || created) {
        while (auto* item = holderLayout_->takeAt(0)) {
            delete item;
        }
        holderLayout_->addWidget(rendered_.at(rootKey)->outer);
        rendered_.at(rootKey)->outer->show();
        rootKey_ = rootKey;
    }
    for (auto it = rendered_.begin(); it != rendered_.end();) {
        if (seen.contains(it->first)) {
            ++it;
            continue;
        }
        // Removed later, in case the widget is the sender of the signal being handled.
        if (it->second->outer) {
            it->second->outer->hide();
            it->second->outer->deleteLater();
        }
        it = rendered_.erase(it);
    }
    if (updated_) {
        updated_();
    }
}

std::string ViewTreeRenderer::sync(const ViewNode& node, ViewKind parentKind,
                                   const std::string& parentKey, std::size_t index,
                                   std::set<std::string>& seen, bool& created) {
    std::string key = node.id;
    if (key.empty() || seen.contains(key)) {
        key = parentKey + "/" + std::to_string(index) + ":" + node.id;
    }
    seen.insert(key);

    auto found = rendered_.find(key);
    if (found != rendered_.end() &&
        (found->second->kind != node.kind || found->second->parentKind != parentKind ||
         !found->second->outer)) {
        forget(key, seen);
        found = rendered_.end();
    }
    if (found == rendered_.end()) {
        found = rendered_.emplace(key, create(node, parentKind, key)).first;
        created = true;
    }
    Rendered& rendered = *found->second;
    if (applyNode(rendered, node)) {
        relayout(rendered);
    }

    if (isContainer(node.kind)) {
        std::vector<std::string> keys;
        bool childCreated = false;
        for (std::size_t child = 0; child < node.children.size(); ++child) {
            keys.push_back(sync(node.children[child], node.kind, key, child, seen, childCreated));
        }
        if (childCreated || keys != rendered.childKeys) {
            rendered.childKeys = std::move(keys);
            relayout(rendered);
        }
    }
    return key;
}

void ViewTreeRenderer::forget(const std::string& key, const std::set<std::string>& seen) {
    auto found = rendered_.find(key);
    if (found == rendered_.end()) {
        return;
    }
    auto rendered = std::move(found->second);
    rendered_.erase(found);
    for (const auto& child : rendered->childKeys) {
        if (!seen.contains(child)) {
            forget(child, seen);
        }
    }
    if (rendered->outer) {
        rendered->outer->hide();
        rendered->outer->deleteLater();
    }
}

std::unique_ptr<ViewTreeRenderer::Rendered>
ViewTreeRenderer::create(const ViewNode& node, ViewKind parentKind, const std::string& key) {
    NodeActions actions;
    actions.picked = [this, key](int index) { picked(key, index); };
    actions.toggled = [this, key](bool isOn) { toggled(key, isOn); };
    actions.pressed = [this, key] { pressed(key); };
    actions.listClosed = [this] { scheduleUpdate(); };
    return makeRenderedNode(node, parentKind, std::move(actions));
}

void ViewTreeRenderer::relayout(Rendered& parent) {
    QBoxLayout* layout = parent.childLayout;
    while (auto* item = layout->takeAt(0)) {
        delete item;
    }
    for (const auto& childKey : parent.childKeys) {
        const auto& child = *rendered_.at(childKey);
        QWidget* widget = child.outer;
        switch (parent.kind) {
        case ViewKind::VStack:
            if (child.kind == ViewKind::Text) {
                layout->addWidget(widget);
                child.text->setAlignment(horizontal(parent.node.alignment) | Qt::AlignVCenter);
            } else if (child.kind == ViewKind::Image || child.kind == ViewKind::Button) {
                layout->addWidget(widget, 0, horizontal(parent.node.alignment));
            } else {
                layout->addWidget(widget);
            }
            break;
        case ViewKind::HStack:
            if (child.kind == ViewKind::Spacer) {
                layout->addWidget(widget, 1);
            } else {
                layout->addWidget(widget, 0, Qt::AlignVCenter);
            }
            break;
        case ViewKind::Form:
        case ViewKind::Section:
        default:
            layout->addWidget(widget);
            break;
        }
        widget->show();
    }
    if (parent.kind == ViewKind::Form) {
        layout->addStretch(1);
    }
}

const ViewTreeRenderer::Rendered* ViewTreeRenderer::find(const std::string& id) const {
    auto found = rendered_.find(id);
    return found == rendered_.end() ? nullptr : found->second.get();
}

QWidget* ViewTreeRenderer::widgetFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->outer.data() : nullptr;
}

QComboBox* ViewTreeRenderer::pickerFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->combo : nullptr;
}

QAbstractButton* ViewTreeRenderer::toggleFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->toggle : nullptr;
}

QPushButton* ViewTreeRenderer::buttonFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->button : nullptr;
}

QLabel* ViewTreeRenderer::textFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->text : nullptr;
}

SymbolView* ViewTreeRenderer::symbolFor(const std::string& id) const {
    const auto* rendered = find(id);
    return rendered ? rendered->symbol : nullptr;
}

void ViewTreeRenderer::picked(const std::string& key, int index) {
    const auto* rendered = find(key);
    if (!rendered || index < 0 ||
        static_cast<std::size_t>(index) >= rendered->node.entries.size()) {
        return;
    }
    // The callback may change the model, and a modal dialog in it may run an update.
    auto onPick = rendered->node.onPick;
    const auto tag = rendered->node.entries[static_cast<std::size_t>(index)].tag;
    if (onPick) {
        onPick(tag);
    }
    // The picker shows the model, not the wish: an action that did not take effect reverts.
    scheduleUpdate();
}

void ViewTreeRenderer::toggled(const std::string& key, bool isOn) {
    const auto* rendered = find(key);
    if (!rendered) {
        return;
    }
    auto onToggle = rendered->node.onToggle;
    if (onToggle) {
        onToggle(isOn);
    }
    scheduleUpdate();
}

void ViewTreeRenderer::pressed(const std::string& key) {
    const auto* rendered = find(key);
    if (!rendered) {
        return;
    }
    auto onPress = rendered->node.onPress;
    if (onPress) {
        onPress();
    }
    scheduleUpdate();
}

} // namespace varnu::qt
