#pragma once

// A menu as the core builds it and a backend shows it. The core rebuilds the items each time the
// menu is about to open; a chosen item runs its action on the main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace varnu {

struct MenuItem;
using MenuAction = std::function<void(const MenuItem& sender)>;

struct MenuItem {
    std::string title;
    MenuAction action;         // none: the item does nothing when chosen
    std::string keyEquivalent; // with the platform's command modifier; empty for none
    bool enabled = true;
    bool checked = false;
    std::optional<std::string> representedObject;
    bool separator = false;

    static MenuItem separatorItem() {
        MenuItem item;
        item.separator = true;
        return item;
    }
};

class Menu;

class MenuDelegate {
public:
    virtual ~MenuDelegate() = default;
    virtual void menuNeedsUpdate(Menu& menu) = 0;
};

class Menu {
public:
    void removeAllItems() { items_.clear(); }
    void addItem(MenuItem item) { items_.push_back(std::move(item)); }
    const std::vector<MenuItem>& items() const { return items_; }

    void setDelegate(std::weak_ptr<MenuDelegate> delegate) { delegate_ = std::move(delegate); }

    // Backends call this right before showing the menu.
    void willOpen() {
        if (auto delegate = delegate_.lock()) {
            delegate->menuNeedsUpdate(*this);
        }
    }

    // The core calls this when state the menu shows has changed, for backends that show a menu
    // prepared before it opens.
    void invalidate() {
        if (invalidationHandler_) {
            invalidationHandler_();
        }
    }
    void setInvalidationHandler(std::function<void()> handler) {
        invalidationHandler_ = std::move(handler);
    }

    // Backends call this when the user picks the item at the index of the items last shown.
    void choose(std::size_t index) {
        if (index >= items_.size()) {
            return;
        }
        // The action may rebuild the menu, so it runs on a copy of the item.
        MenuItem item = items_[index];
        if (item.enabled && !item.separator && item.action) {
            item.action(item);
        }
    }

private:
    std::vector<MenuItem> items_;
    std::weak_ptr<MenuDelegate> delegate_;
    std::function<void()> invalidationHandler_;
};

} // namespace varnu
