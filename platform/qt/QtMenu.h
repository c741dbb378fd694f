#pragma once

// A core menu shown as a QMenu.
// Implements: asking the core for its items right before each opening (aboutToShow, also when
// a D-Bus tray asks), the items with their titles, check marks, enabled states, key
// equivalents shown as Ctrl shortcuts and separators; a chosen item goes back to the core by
// its index. When the core says that what the menu shows has changed, the menu is rebuilt at
// the next turn of the event loop, so trays that show a layout prepared beforehand are current
// too; an open menu is left as it is, and a menu whose items look the same is not touched, so
// the periodic refresh and held volume keys do not churn the tray's exported layout.
// Does not: show a title for the menu itself, or nest submenus.

#include "platform/Menu.h"

#include <QMenu>
#include <QPointer>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace varnu::qt {

// An item that stands for one of several choices (it carries what it stands for, as the output
// items carry their device): it shows a check state, on or off.
inline bool isChoice(const MenuItem& item) {
    return item.representedObject.has_value();
}

class QtMenu {
public:
    explicit QtMenu(std::shared_ptr<Menu> menu);
    ~QtMenu();

    QtMenu(const QtMenu&) = delete;
    QtMenu& operator=(const QtMenu&) = delete;

    QMenu* menu() const { return qmenu_; }
    const std::shared_ptr<Menu>& model() const { return menu_; }

    // Shows the core's items as they are now.
    void render();
    // Asks the core for its items, then shows them.
    void refresh();
    // Each runs after what the items show has changed, until it is removed by its number.
    int addChangeHandler(std::function<void()> handler);
    void removeChangeHandler(int number);
    // The line that tells how the current output is controlled, if the menu has one: the first
    // disabled text after the list of outputs.
    std::optional<std::string> controlLine() const;

private:
    void scheduleRefresh();

    // What the user sees of an item; actions are looked up by index when chosen.
    using ItemLook = std::tuple<std::string, std::string, bool, bool, bool, bool>;

    std::shared_ptr<Menu> menu_;
    QPointer<QMenu> qmenu_;
    bool refreshQueued_ = false;
    std::vector<ItemLook> shown_;
    std::vector<std::pair<int, std::function<void()>>> onChanged_;
    int handlers_ = 0;
};

} // namespace varnu::qt
