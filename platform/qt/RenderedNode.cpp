#include "platform/qt/RenderedNode.h"

#include "platform/qt/FormWidgets.h"
#include "platform/qt/PickerBox.h"
#include "platform/qt/SwitchButton.h"
#include "platform/qt/SymbolView.h"
#include "platform/qt/ViewStyle.h"

#include <QAbstractItemView>
#include <QBoxLayout>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace varnu::qt {

namespace {

constexpr int kSymbolSize = 16;
constexpr int kImageSize = 32;
constexpr int kSectionSpacing = 10;
constexpr int kWidestPicker = 250;

QWidget* stack(ViewKind kind, QBoxLayout*& layout) {
    auto* widget = new QWidget;
    if (kind == ViewKind::VStack) {
        layout = new QVBoxLayout(widget);
    } else {
        layout = new QHBoxLayout(widget);
    }
    return widget;
}

QWidget* form(QBoxLayout*& layout) {
    auto* inner = new QWidget;
    layout = new QVBoxLayout(inner);
    layout->setContentsMargins(16, 6, 16, 12);
    layout->setSpacing(kSectionSpacing);
    return new FormScrollArea(inner);
}

// A section's header has the one style of all headers; other texts the node's.
void styleText(QLabel* text, const ViewNode& node) {
    if (node.kind == ViewKind::Section) {
        styleLabel(text, TextStyle::Callout, TextColor::Secondary, true);
    } else {
        styleLabel(text, node.style, node.color, node.bold);
    }
}

QWidget* section(RenderedNode& rendered, QBoxLayout*& layout) {
    auto* widget = new QWidget;
    auto* column = new QVBoxLayout(widget);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    rendered.text = new QLabel;
    rendered.text->setTextFormat(Qt::PlainText);
    rendered.text->setContentsMargins(10, 0, 0, 0);
    column->addWidget(rendered.text);
    auto* card = new SectionCard;
    layout = new QVBoxLayout(card);
    layout->setContentsMargins(12, 3, 12, 3);
    layout->setSpacing(4);
    column->addWidget(card);
    return widget;
}

QWidget* picker(RenderedNode& rendered, NodeActions& actions) {
    QBoxLayout* layout = nullptr;
    auto* widget = formRow(layout);
    rendered.text = new WrappingLabel;
    auto* box = new PickerBox;
    // The model may have moved on while the list was open; closed without a choice, the
    // picker shows it again.
    box->onListClosed = std::move(actions.listClosed);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // A long device name is cut short rather than pushing the label out of the row.
    box->setMaximumWidth(kWidestPicker);
    layout->addWidget(rendered.text, 1);
    layout->addWidget(box, 0, Qt::AlignRight | Qt::AlignVCenter);
    QObject::connect(box, &QComboBox::activated, box, std::move(actions.picked));
    rendered.combo = box;
    return widget;
}

QWidget* toggle(RenderedNode& rendered, NodeActions& actions) {
    QBoxLayout* layout = nullptr;
    auto* widget = formRow(layout);
    rendered.text = new WrappingLabel;
    rendered.toggle = new SwitchButton;
    layout->addWidget(rendered.text, 1);
    layout->addWidget(rendered.toggle, 0, Qt::AlignRight | Qt::AlignVCenter);
    QObject::connect(rendered.toggle, &QAbstractButton::clicked, rendered.toggle,
                     std::move(actions.toggled));
    return widget;
}

QWidget* label(RenderedNode& rendered) {
    QBoxLayout* layout = nullptr;
    auto* widget = formRow(layout);
    rendered.symbol = new SymbolView;
    rendered.symbol->setFixedSize(kSymbolSize, kSymbolSize);
    rendered.text = new WrappingLabel;
    layout->addWidget(rendered.symbol, 0, Qt::AlignVCenter);
    layout->addWidget(rendered.text, 1);
    return widget;
}

QWidget* button(RenderedNode& rendered, NodeActions& actions) {
    QBoxLayout* layout = nullptr;
    auto* widget = formRow(layout);
    rendered.button = new QPushButton;
    rendered.button->setAutoDefault(false);
    layout->addWidget(rendered.button);
    layout->addStretch(1);
    QObject::connect(rendered.button, &QPushButton::clicked, rendered.button,
                     std::move(actions.pressed));
    return widget;
}

QWidget* spacer(ViewKind parentKind) {
    auto* widget = new QWidget;
    if (parentKind == ViewKind::HStack) {
        widget->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Minimum);
    } else {
        widget->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Expanding);
    }
    widget->setMinimumSize(0, 0);
    return widget;
}

QWidget* widgetsFor(RenderedNode& rendered, ViewKind kind, ViewKind parentKind,
                    NodeActions& actions) {
    switch (kind) {
    case ViewKind::VStack:
    case ViewKind::HStack:
        return stack(kind, rendered.childLayout);
    case ViewKind::Form:
        return form(rendered.childLayout);
    case ViewKind::Section:
        return section(rendered, rendered.childLayout);
    case ViewKind::Picker:
        return picker(rendered, actions);
    case ViewKind::Toggle:
        return toggle(rendered, actions);
    case ViewKind::Label:
        return label(rendered);
    case ViewKind::Text:
        rendered.text = new WrappingLabel;
        rendered.text->setContentsMargins(0, 2, 0, 2);
        return rendered.text;
    case ViewKind::Button:
        return button(rendered, actions);
    case ViewKind::Image:
        rendered.symbol = new SymbolView;
        return rendered.symbol;
    case ViewKind::Spacer:
        return spacer(parentKind);
    }
    return new QWidget;
}

void applyEntries(QComboBox* combo, const ViewNode& node, bool entriesChanged) {
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

} // namespace

bool isContainer(ViewKind kind) {
    return kind == ViewKind::VStack || kind == ViewKind::HStack || kind == ViewKind::Form ||
           kind == ViewKind::Section;
}

std::unique_ptr<RenderedNode> makeRenderedNode(const ViewNode& node, ViewKind parentKind,
                                               NodeActions actions) {
    auto rendered = std::make_unique<RenderedNode>();
    rendered->kind = node.kind;
    rendered->parentKind = parentKind;
    rendered->outer = widgetsFor(*rendered, node.kind, parentKind, actions);
    if (rendered->text) {
        rendered->text->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    return rendered;
}

bool applyNode(RenderedNode& rendered, const ViewNode& node) {
    ViewNode& last = rendered.node;
    QWidget* outer = rendered.outer;
    const bool first = !rendered.applied;
    bool relayout = false;

    if (first || node.width != last.width || node.height != last.height) {
        if (node.width) {
            outer->setFixedWidth(static_cast<int>(*node.width));
        }
        if (node.height && isContainer(node.kind)) {
            // A stack ends after what it holds; its frame bounds it, and a form in it scrolls.
            outer->setMaximumHeight(static_cast<int>(*node.height));
        } else if (node.height) {
            outer->setFixedHeight(static_cast<int>(*node.height));
        }
        if (node.kind == ViewKind::Image && !node.width && !node.height) {
            outer->setFixedSize(kImageSize, kImageSize);
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
        relayout = !first && node.alignment != last.alignment;
    }
    if (rendered.text) {
        if (first || node.text != last.text) {
            rendered.text->setText(QString::fromStdString(node.text));
            if (node.kind == ViewKind::Section) {
                rendered.text->setVisible(!node.text.empty());
            }
        }
        if (first || node.style != last.style || node.color != last.color ||
            node.bold != last.bold) {
            styleText(rendered.text, node);
        }
    }
    if (rendered.symbol) {
        rendered.symbol->setSymbol(node.symbol, colorFor(node.color));
        rendered.symbol->setVisible(!node.symbol.empty());
        rendered.symbol->setAccessibleName(QString::fromStdString(node.text));
    }
    if (rendered.combo) {
        applyEntries(rendered.combo, node, first || node.entries != last.entries);
    }
    if (rendered.toggle) {
        if (rendered.toggle->isChecked() != node.isOn) {
            const QSignalBlocker blocker(rendered.toggle);
            rendered.toggle->setChecked(node.isOn);
        }
        rendered.toggle->setAccessibleName(QString::fromStdString(node.text));
    }
    if (rendered.button && (first || node.text != last.text)) {
        rendered.button->setText(QString::fromStdString(node.text));
    }

    // Keep the latest callbacks and values; the children live in their own records.
    last = node;
    last.children.clear();
    rendered.applied = true;
    return relayout;
}

void applyColours(RenderedNode& rendered) {
    if (rendered.text) {
        styleText(rendered.text, rendered.node);
    }
    if (rendered.symbol) {
        rendered.symbol->setSymbol(rendered.node.symbol, colorFor(rendered.node.color));
    }
}

} // namespace varnu::qt
