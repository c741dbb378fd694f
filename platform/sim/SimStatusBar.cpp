#include "platform/sim/SimStatusBar.h"

namespace varnu::sim {

using Kind = StatusBarRecord::Kind;

class SimStatusItem::Button final : public StatusBarButton {
public:
    explicit Button(SimStatusItem& item)
        : item_(item) {}
    void setImage(std::optional<SymbolImage> image) override {
        item_.image_ = image;
        item_.history_->add({.kind = Kind::ImageSet, .item = item_.index_, .image = image});
    }

private:
    SimStatusItem& item_;
};

SimStatusItem::SimStatusItem(std::size_t index, double length, bool hasButton,
                             std::shared_ptr<SimHistory<StatusBarRecord>> history)
    : index_(index)
    , length_(length)
    , hasButton_(hasButton)
    , button_(hasButton ? std::make_unique<Button>(*this) : nullptr)
    , history_(std::move(history)) {}

SimStatusItem::~SimStatusItem() = default;

StatusBarButton* SimStatusItem::button() {
    return button_.get();
}

void SimStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menu_ = std::move(menu);
    history_->add({.kind = Kind::MenuSet, .item = index_});
}

std::vector<MenuItem> SimStatusItem::openMenu() {
    if (!menu_) {
        return {};
    }
    menu_->willOpen();
    history_->add({.kind = Kind::MenuOpened, .item = index_});
    return menu_->items();
}

bool SimStatusItem::chooseItem(const std::string& title) {
    if (!menu_) {
        return false;
    }
    const auto& items = menu_->items();
    for (std::size_t index = 0; index < items.size(); ++index) {
        if (!items[index].separator && items[index].title == title) {
            history_->add({.kind = Kind::ItemChosen, .item = index_, .title = title});
            menu_->choose(index);
            return true;
        }
    }
    return false;
}

std::shared_ptr<StatusItem> SimStatusBar::statusItem(double length) {
    const std::size_t index = items_.size();
    auto item = std::shared_ptr<SimStatusItem>(
        new SimStatusItem(index, length, providesButtons_, history_));
    items_.push_back(item);
    history_->add({.kind = Kind::ItemRequested, .item = index, .length = length});
    return item;
}

} // namespace varnu::sim
