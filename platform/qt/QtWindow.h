#pragma once

// Windows that host view content.
// Implements: Window on a top-level QWidget showing a rendered view tree, sized to the content;
// the style mask as window-manager hints (a window without the resizable bit keeps its size);
// closing only hides; centring on the screen under the pointer; bringing to the front; a Quit
// button under the content while no tray shows Varnu's icon (whose menu holds Quit otherwise).
// Does not: release a window on close (the core keeps and reuses its window), or keep another
// application's window from staying in front where the window manager decides so.

#include "platform/Window.h"

#include <QPointer>
#include <memory>

class QPushButton;
class QWidget;

namespace varnu::qt {

class TrayPresence;
class ViewTreeRenderer;

class QtWindow final : public Window {
public:
    explicit QtWindow(std::shared_ptr<ViewContent> content,
                      std::shared_ptr<TrayPresence> presence = {});
    ~QtWindow() override;

    void setTitle(const std::string& title) override;
    void setStyleMask(std::uint32_t mask) override;
    void setReleasedWhenClosed(bool released) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    bool isVisible() const override;

    QWidget* widget() const { return window_; }
    ViewTreeRenderer& renderer() const { return *renderer_; }
    // Null when the window has no tray to stand in for.
    QPushButton* quitButton() const { return quit_; }

private:
    void updateQuitButton();

    QPointer<QWidget> window_;
    std::unique_ptr<ViewTreeRenderer> renderer_;
    std::shared_ptr<TrayPresence> presence_;
    QPushButton* quit_ = nullptr;
    std::uint32_t styleMask_ = kWindowStyleMaskTitled | kWindowStyleMaskClosable |
                               kWindowStyleMaskMiniaturizable | kWindowStyleMaskResizable;
};

class QtWindowFactory final : public WindowFactory {
public:
    explicit QtWindowFactory(std::shared_ptr<TrayPresence> presence = {})
        : presence_(std::move(presence)) {}
    std::shared_ptr<Window> makeWindow(std::shared_ptr<ViewContent> content) override;

private:
    std::shared_ptr<TrayPresence> presence_;
};

} // namespace varnu::qt
