#pragma once

#include "platform/Image.h"
#include "platform/Menu.h"

#include <memory>
#include <optional>

namespace varnu {

constexpr double kVariableStatusItemLength = -1.0;

class StatusBarButton {
public:
    virtual ~StatusBarButton() = default;
    virtual void setImage(std::optional<SymbolImage> image) = 0;
};

class StatusItem {
public:
    virtual ~StatusItem() = default;
    // May be null: some status areas give an item nothing to draw into.
    virtual StatusBarButton* button() = 0;
    virtual void setMenu(std::shared_ptr<Menu> menu) = 0;
};

class StatusBar {
public:
    virtual ~StatusBar() = default;
    virtual std::shared_ptr<StatusItem> statusItem(double length) = 0;
};

} // namespace varnu
