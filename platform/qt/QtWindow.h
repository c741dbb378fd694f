#pragma once

// Windows that host view content.
// Implements: Window on a top-level QWidget showing a rendered view tree, sized to the content;
// the style mask as window-manager hints (a window without the resizable bit keeps its size);
// closing only hides; centring on the screen under the pointer; bringing to the front.
// Does not: release a window on close (the core keeps and reuses its window), or keep another
// application's window from staying in front where the window manager decides so.

#include "platform/Window.h"

#include <QPointer>
#include <memory>

class QWidget;

namespace varnu::qt {

class ViewTreeRenderer;

class QtWindow final : public Window {
public:
    explicit QtWindow(std::shared_ptr<ViewContent> content);
    ~QtWindow() override;

    void setTitle(const std::string& title) override;
    void setStyleMask(std::uint32_t mask) override;
    void setReleasedWhenClosed(bool released) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    bool isVisible() const override;

    QWidget* widget() const { return window_; }
    ViewTreeRenderer& renderer() const { return *renderer_; }

private:
    QPointer<QWidget> window_;
    std::unique_ptr<ViewTreeRenderer> renderer_;
    std::uint32_t styleMask_ = kWindowStyleMaskTitled | kWindowStyleMaskClosable |
                               kWindowStyleMaskMiniaturizable | kWindowStyleMaskResizable;
};

class QtWindowFactory final : public WindowFactory {
public:
    std::shared_ptr<Window> makeWindow(std::shared_ptr<ViewContent> content) override;
};

} // namespace varnu::qt
