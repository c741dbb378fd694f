#include "platform/qt/QtMenu.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>
#include <QTimer>

namespace varnu::qt {

QtMenu::QtMenu(std::shared_ptr<Menu> menu)
    : menu_(std::move(menu))
    , qmenu_(new QMenu) {
    QObject::connect(qmenu_.data(), &QMenu::aboutToShow, qmenu_.data(), [this] { refresh(); });
    menu_->setInvalidationHandler([this] { scheduleRefresh(); });
}

QtMenu::~QtMenu() {
    menu_->setInvalidationHandler({});
    delete qmenu_.data();
}

void QtMenu::scheduleRefresh() {
    if (refreshQueued_ || !qmenu_) {
        return;
    }
    refreshQueued_ = true;
    QTimer::singleShot(0, qmenu_.data(), [this] {
        refreshQueued_ = false;
        // What is open stays as it was opened; the next opening asks again.
        if (!qmenu_->isVisible()) {
            refresh();
        }
    });
}

void QtMenu::refresh() {
    menu_->willOpen();
    render();
}

void QtMenu::render() {
    std::vector<ItemLook> looks;
    for (const MenuItem& item : menu_->items()) {
        looks.emplace_back(item.title, item.keyEquivalent, item.enabled, item.checked,
                           item.separator, isChoice(item));
    }
    if (looks == shown_) {
        return;
    }
    shown_ = std::move(looks);

    // An action may be the sender of the signal that led here: old actions go later.
    for (QAction* action : qmenu_->actions()) {
        qmenu_->removeAction(action);
        action->deleteLater();
    }
    const auto& items = menu_->items();
    for (std::size_t index = 0; index < items.size(); ++index) {
        const MenuItem& item = items[index];
        if (item.separator) {
            qmenu_->addSeparator();
            continue;
        }
        // Titles are shown as they are: an ampersand is not a mnemonic here.
        QString title = QString::fromStdString(item.title);
        title.replace(QLatin1Char('&'), QLatin1String("&&"));
        auto* action = new QAction(title, qmenu_);
        action->setEnabled(item.enabled);
        if (item.checked || isChoice(item)) {
            action->setCheckable(true);
            action->setChecked(item.checked);
        }
        if (!item.keyEquivalent.empty()) {
            action->setShortcut(QKeySequence(QStringLiteral("Ctrl+") +
                                             QString::fromStdString(item.keyEquivalent).toUpper()));
            action->setShortcutContext(Qt::WidgetShortcut);
        }
        QObject::connect(action, &QAction::triggered, qmenu_.data(),
                         [this, index] { menu_->choose(index); });
        qmenu_->addAction(action);
    }
    // A handler may remove itself.
    const auto handlers = onChanged_;
    for (const auto& handler : handlers) {
        handler.second();
    }
}

int QtMenu::addChangeHandler(std::function<void()> handler) {
    onChanged_.emplace_back(++handlers_, std::move(handler));
    return handlers_;
}

void QtMenu::removeChangeHandler(int number) {
    std::erase_if(onChanged_, [number](const auto& handler) { return handler.first == number; });
}

std::optional<std::string> QtMenu::controlLine() const {
    bool pastOutputs = false;
    for (const MenuItem& item : menu_->items()) {
        if (item.separator) {
            if (pastOutputs) {
                return std::nullopt;
            }
            pastOutputs = true;
        } else if (pastOutputs && !item.enabled) {
            return item.title;
        }
    }
    return std::nullopt;
}

} // namespace varnu::qt
