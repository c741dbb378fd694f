#pragma once

#include "platform/ViewTree.h"

#include <cstdint>
#include <memory>
#include <string>

namespace varnu {

constexpr std::uint32_t kWindowStyleMaskTitled = 1;
constexpr std::uint32_t kWindowStyleMaskClosable = 2;
constexpr std::uint32_t kWindowStyleMaskMiniaturizable = 4;
constexpr std::uint32_t kWindowStyleMaskResizable = 8;

// A window hosting view content. Closing it by the user only hides it; it can be shown again.
class Window {
public:
    virtual ~Window() = default;
    virtual void setTitle(const std::string& title) = 0;
    virtual void setStyleMask(std::uint32_t mask) = 0;
    virtual void setReleasedWhenClosed(bool released) = 0;
    virtual void center() = 0;
    virtual void makeKeyAndOrderFront() = 0;
    virtual bool isVisible() const = 0;
};

class WindowFactory {
public:
    virtual ~WindowFactory() = default;
    // A window sized to its content, not yet shown.
    virtual std::shared_ptr<Window> makeWindow(std::shared_ptr<ViewContent> content) = 0;
};

} // namespace varnu
