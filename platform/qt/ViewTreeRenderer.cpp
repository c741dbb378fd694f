#include "platform/qt/ViewTreeRenderer.h"

#include "platform/qt/PickerBox.h"
#include "platform/qt/SwitchButton.h"
#include "platform/qt/SymbolView.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

namespace varnu::qt {

namespace {

constexpr int kSymbolSize = 16;
constexpr int kRowHeight = 28;
constexpr double kCardRadius = 9;
constexpr int kSectionSpacing = 10;
constexpr int kWidestPicker = 250;

QColor mix(const QColor& a, const QColor& b, double share) {
    return QColor::fromRgbF(static_cast<float>(a.redF() * (1 - share) + b.redF() * share),
                            static_cast<float>(a.greenF() * (1 - share) + b.greenF() * share),
                            static_cast<float>(a.blueF() * (1 - share) + b.blueF() * share));
}

QColor colorFor(TextColor color) {
    const auto palette = QApplication::palette();
    switch (color) {
    case TextColor::Primary:
        return palette.color(QPalette::WindowText);
    case TextColor::Secondary:
        return mix(palette.color(QPalette::WindowText), palette.color(QPalette::Window), 0.5);
    case TextColor::Green:
        return QColor(0x24, 0xA1, 0x48);
    case TextColor::Orange:
        return QColor(0xE8, 0x7B, 0x00);
    }
    return palette.color(QPalette::WindowText);
}

QFont fontFor(TextStyle style, bool bold) {
    QFont font = QApplication::font();
    const double scale = style == TextStyle::Title2    ? 1.6
                         : style == TextStyle::Callout ? 0.92
                                                       : 1.0;
    if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() * scale);
    } else {
        font.setPixelSize(static_cast<int>(font.pixelSize() * scale + 0.5));
    }
    font.setBold(bold);
    return font;
}

void styleLabel(QLabel* label, TextStyle style, TextColor color, bool bold) {
    label->setFont(fontFor(style, bold));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, colorFor(color));
    label->setPalette(palette);
}

Qt::Alignment horizontal(HorizontalAlignment alignment) {
    switch (alignment) {
    case HorizontalAlignment::Leading:
        return Qt::AlignLeft;
    case HorizontalAlignment::Center:
        return Qt::AlignHCenter;
    case HorizontalAlignment::Trailing:
        return Qt::AlignRight;
    }
    return Qt::AlignHCenter;
}

bool isContainer(ViewKind kind) {
    return kind == ViewKind::VStack || kind == ViewKind::HStack || kind == ViewKind::Form ||
           kind == ViewKind::Section;
}

// The rounded box of a form section, with hairlines between its rows.
class SectionCard final : public QWidget {
public:
    explicit SectionCard(QWidget* parent = nullptr)
        : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QColor base = palette().color(QPalette::Base);
        const QColor edge = mix(base, palette().color(QPalette::WindowText), 0.13);
        QPainterPath card;
        card.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), kCardRadius,
                            kCardRadius);
        painter.fillPath(card, base);
        painter.setPen(QPen(edge, 1));
        painter.drawPath(card);
        painter.setRenderHint(QPainter::Antialiasing, false);
        QWidget* previous = nullptr;
        for (int index = 0; layout() && index < layout()->count(); ++index) {
            auto* row = layout()->itemAt(index)->widget();
            if (!row || !row->isVisible()) {
                continue;
            }
            if (previous) {
                const int y = (previous->geometry().bottom() + row->geometry().top() + 1) / 2;
                painter.drawLine(12, y, width() - 13, y);
            }
            previous = row;
        }
    }
};

QWidget* row(QBoxLayout*& layout) {
    auto* widget = new QWidget;
    layout = new QHBoxLayout(widget);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(8);
    widget->setMinimumHeight(kRowHeight);
    return widget;
}

// A text that would rather stay on one line and wraps only when its row is too narrow.
class WrappingLabel final : public QLabel {
public:
    WrappingLabel() {
        setWordWrap(true);
        setTextFormat(Qt::PlainText);
        setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    }

    QSize sizeHint() const override {
        const QMargins margins = contentsMargins();
        const int oneLine =
            fontMetrics().horizontalAdvance(text()) + 1 + margins.left() + margins.right();
        return {oneLine, heightForWidth(oneLine)};
    }
    // One line high: the layout asks heightForWidth for the height at the width it gives.
    QSize minimumSizeHint() const override {
        const QMargins margins = contentsMargins();
        return {std::min(sizeHint().width(), kNarrowestText),
                fontMetrics().height() + margins.top() + margins.bottom()};
    }

private:
    static constexpr int kNarrowestText = 80;
};

QLabel* wrappingLabel() {
    return new WrappingLabel;
}

} // namespace

struct ViewTreeRenderer::Rendered {
    ViewKind kind = ViewKind::VStack;
    ViewKind parentKind = ViewKind::VStack;
    QPointer<QWidget> outer;
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

ViewTreeRenderer::ViewTreeRenderer(std::shared_ptr<ViewContent> content)
    : content_(std::move(content))
    , holder_(new QWidget) {
    holderLayout_ = new QVBoxLayout(holder_);
    holderLayout_->setContentsMargins(0, 0, 0, 0);
    holderLayout_->setSpacing(0);
    holderLayout_->setSizeConstraint(QLayout::SetFixedSize);
    content_->setInvalidationHandler([this] { scheduleUpdate(); });
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
    ++updateCount_;
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
    apply(rendered, node);

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
    auto rendered = std::make_unique<Rendered>();
    rendered->kind = node.kind;
    rendered->parentKind = parentKind;
    QBoxLayout* layout = nullptr;

    switch (node.kind) {
    case ViewKind::VStack:
    case ViewKind::HStack: {
        auto* widget = new QWidget;
        if (node.kind == ViewKind::VStack) {
            layout = new QVBoxLayout(widget);
        } else {
            layout = new QHBoxLayout(widget);
        }
        rendered->outer = widget;
        rendered->childLayout = layout;
        break;
    }
    case ViewKind::Form: {
        auto* scroll = new QScrollArea;
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scroll->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
        auto* inner = new QWidget;
        layout = new QVBoxLayout(inner);
        layout->setContentsMargins(16, 6, 16, 12);
        layout->setSpacing(kSectionSpacing);
        scroll->setWidget(inner);
        rendered->outer = scroll;
        rendered->childLayout = layout;
        break;
    }
    case ViewKind::Section: {
        auto* widget = new QWidget;
        auto* column = new QVBoxLayout(widget);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(4);
        rendered->text = new QLabel;
        rendered->text->setTextFormat(Qt::PlainText);
        rendered->text->setContentsMargins(10, 0, 0, 0);
        styleLabel(rendered->text, TextStyle::Callout, TextColor::Secondary, true);
        column->addWidget(rendered->text);
        auto* card = new SectionCard;
        layout = new QVBoxLayout(card);
        layout->setContentsMargins(12, 3, 12, 3);
        layout->setSpacing(4);
        column->addWidget(card);
        rendered->outer = widget;
        rendered->childLayout = layout;
        break;
    }
    case ViewKind::Picker: {
        auto* widget = row(layout);
        rendered->text = wrappingLabel();
        auto* picker = new PickerBox;
        // The model may have moved on while the list was open; closed without a choice, the
        // picker shows it again.
        picker->onListClosed = [this] { scheduleUpdate(); };
        rendered->combo = picker;
        rendered->combo->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        // A long device name is cut short rather than pushing the label out of the row.
        rendered->combo->setMaximumWidth(kWidestPicker);
        layout->addWidget(rendered->text, 1);
        layout->addWidget(rendered->combo, 0, Qt::AlignRight | Qt::AlignVCenter);
        QObject::connect(rendered->combo, &QComboBox::activated, rendered->combo,
                         [this, key](int index) { picked(key, index); });
        rendered->outer = widget;
        break;
    }
    case ViewKind::Toggle: {
        auto* widget = row(layout);
        rendered->text = wrappingLabel();
        rendered->toggle = new SwitchButton;
        layout->addWidget(rendered->text, 1);
        layout->addWidget(rendered->toggle, 0, Qt::AlignRight | Qt::AlignVCenter);
        QObject::connect(rendered->toggle, &QAbstractButton::clicked, rendered->toggle,
                         [this, key](bool isOn) { toggled(key, isOn); });
        rendered->outer = widget;
        break;
    }
    case ViewKind::Label: {
        auto* widget = row(layout);
        rendered->symbol = new SymbolView;
        rendered->symbol->setFixedSize(kSymbolSize, kSymbolSize);
        rendered->text = wrappingLabel();
        layout->addWidget(rendered->symbol, 0, Qt::AlignVCenter);
        layout->addWidget(rendered->text, 1);
        rendered->outer = widget;
        break;
    }
    case ViewKind::Text: {
        rendered->text = wrappingLabel();
        rendered->text->setContentsMargins(0, 2, 0, 2);
        rendered->outer = rendered->text;
        break;
    }
    case ViewKind::Button: {
        auto* widget = row(layout);
        rendered->button = new QPushButton;
        rendered->button->setAutoDefault(false);
        layout->addWidget(rendered->button);
        layout->addStretch(1);
        QObject::connect(rendered->button, &QPushButton::clicked, rendered->button,
                         [this, key] { pressed(key); });
        rendered->outer = widget;
        break;
    }
    case ViewKind::Image: {
        rendered->symbol = new SymbolView;
        rendered->outer = rendered->symbol;
        break;
    }
    case ViewKind::Spacer: {
        auto* widget = new QWidget;
        if (parentKind == ViewKind::HStack) {
            widget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
        } else {
            widget->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding);
        }
        widget->setMinimumSize(0, 0);
        rendered->outer = widget;
        break;
    }
    }
    if (rendered->text) {
        rendered->text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return rendered;
}

void ViewTreeRenderer::apply(Rendered& rendered, const ViewNode& node) {
    ViewNode& last = rendered.node;
    QWidget* outer = rendered.outer;
    const bool first = !rendered.applied;

    if (first || node.width != last.width || node.height != last.height) {
        if (node.width) {
            outer->setFixedWidth(static_cast<int>(*node.width));
        }
        if (node.height) {
            outer->setFixedHeight(static_cast<int>(*node.height));
        }
        if (node.kind == ViewKind::Image && !node.width && !node.height) {
            outer->setFixedSize(32, 32);
        }
    }
    if (rendered.childLayout && node.kind != ViewKind::Form && node.kind != ViewKind::Section) {
        if (first || node.spacing != last.spacing) {
            rendered.childLayout->setSpacing(static_cast<int>(node.spacing));
        }
        if (first || node.padding != last.padding) {
            rendered.childLayout->setContentsMargins(
                static_cast<int>(node.padding.leading), static_cast<int>(node.padding.top),
                static_cast<int>(node.padding.trailing), static_cast<int>(node.padding.bottom));
        }
        if (!first && node.alignment != last.alignment) {
            last.alignment = node.alignment;
            relayout(rendered);
        }
    }
    if (rendered.text) {
        if (first || node.text != last.text) {
            rendered.text->setText(QString::fromStdString(node.text));
            if (node.kind == ViewKind::Section) {
                rendered.text->setVisible(!node.text.empty());
            }
        }
        if (node.kind != ViewKind::Section &&
            (first || node.style != last.style || node.color != last.color ||
             node.bold != last.bold)) {
            styleLabel(rendered.text, node.style, node.color, node.bold);
        }
    }
    if (rendered.symbol) {
        rendered.symbol->setSymbol(node.symbol, colorFor(node.color));
        rendered.symbol->setVisible(!node.symbol.empty());
        rendered.symbol->setAccessibleName(QString::fromStdString(node.text));
    }
    if (rendered.combo) {
        QComboBox* combo = rendered.combo;
        const bool entriesChanged = first || node.entries != last.entries;
        const bool popupOpen = combo->view() && combo->view()->isVisible();
        if (entriesChanged || !popupOpen) {
            int marked = -1;
            for (std::size_t entry = 0; entry < node.entries.size(); ++entry) {
                if (node.selectedTag && node.entries[entry].tag == *node.selectedTag) {
                    marked = static_cast<int>(entry);
                    break;
                }
            }
            const QSignalBlocker blocker(combo);
            if (entriesChanged) {
                combo->clear();
                for (const auto& entry : node.entries) {
                    combo->addItem(QString::fromStdString(entry.title));
                }
            }
            if (combo->currentIndex() != marked) {
                combo->setCurrentIndex(marked);
            }
        }
        combo->setAccessibleName(QString::fromStdString(node.text));
    }
    if (rendered.toggle && rendered.toggle->isChecked() != node.isOn) {
        const QSignalBlocker blocker(rendered.toggle);
        rendered.toggle->setChecked(node.isOn);
    }
    if (rendered.toggle) {
        rendered.toggle->setAccessibleName(QString::fromStdString(node.text));
    }
    if (rendered.button && (first || node.text != last.text)) {
        rendered.button->setText(QString::fromStdString(node.text));
    }

    // Keep the latest callbacks and values; the children live in their own records.
    last = node;
    last.children.clear();
    rendered.applied = true;
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
