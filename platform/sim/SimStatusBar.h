#pragma once

// The simulated status bar.
// Implements: status items with their requested length, a button that may be absent, the
// button's image, the item's menu, and opening that menu the way a backend does.
// Does not: draw anything or track the mouse.

#include "platform/StatusBar.h"
#include "platform/sim/SimHistory.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnu::sim {

struct StatusBarRecord {
    enum class Kind {
        ItemRequested, // length
        ImageSet,      // image
        MenuSet,
        MenuOpened,
        ItemChosen, // title
    };
    Kind kind;
    std::size_t item = 0; // index of the item, in the order requested
    double length = 0;
    std::optional<SymbolImage> image{};
    std::string title{};
};

class SimStatusItem final : public StatusItem {
public:
    ~SimStatusItem() override;

    StatusBarButton* button() override;
    void setMenu(std::shared_ptr<Menu> menu) override;

    double length() const { return length_; }
    bool hasButton() const { return hasButton_; }
    // The image on the button; nothing without a button or before one is set.
    const std::optional<SymbolImage>& image() const { return image_; }
    const std::shared_ptr<Menu>& menu() const { return menu_; }

    // Opens the menu: its delegate rebuilds it, then the items are shown. Empty without a menu.
    std::vector<MenuItem> openMenu();
    // Chooses the first item with this title among those last shown; false when there is none
    // (a chosen disabled item does nothing, as in a real menu, but still counts as found).
    bool chooseItem(const std::string& title);

private:
    friend class SimStatusBar;
    class Button;
    SimStatusItem(std::size_t index, double length, bool hasButton,
                  std::shared_ptr<SimHistory<StatusBarRecord>> history);

    std::size_t index_;
    double length_;
    bool hasButton_;
    std::unique_ptr<Button> button_;
    std::optional<SymbolImage> image_;
    std::shared_ptr<Menu> menu_;
    std::shared_ptr<SimHistory<StatusBarRecord>> history_;
};

class SimStatusBar final : public StatusBar {
public:
    std::shared_ptr<StatusItem> statusItem(double length) override;

    // Whether items requested from now on get a button (they do unless told otherwise).
    void setProvidesButtons(bool provides) { providesButtons_ = provides; }

    const std::vector<std::shared_ptr<SimStatusItem>>& items() const { return items_; }

    const std::vector<StatusBarRecord>& history() const { return history_->records(); }
    void setObserver(SimHistory<StatusBarRecord>::Observer observer) {
        history_->setObserver(std::move(observer));
    }

private:
    bool providesButtons_ = true;
    std::vector<std::shared_ptr<SimStatusItem>> items_;
    std::shared_ptr<SimHistory<StatusBarRecord>> history_ =
        std::make_shared<SimHistory<StatusBarRecord>>();
};

} // namespace varnu::sim
