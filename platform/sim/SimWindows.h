#pragma once

// Simulated windows.
// Implements: the window's title, style mask, released-when-closed flag, centring, making it
// key and bringing it to the front, closing (which only hides), and the content it hosts with
// a count of the content's invalidations.
// Does not: lay out or draw the content; body() is built only when someone asks for it.

#include "platform/Window.h"
#include "platform/sim/SimHistory.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace varnu::sim {

struct WindowRecord {
    enum class Kind {
        Made,
        TitleSet,              // text
        StyleMaskSet,          // styleMask
        ReleasedWhenClosedSet, // flag
        Centered,
        MadeKeyAndOrderedFront,
        Closed,
        ContentInvalidated,
    };
    Kind kind;
    std::size_t window = 0; // index of the window, in the order made
    std::string title{};    // the window's title at that moment
    std::uint32_t styleMask = 0;
    bool flag = false;
};

class SimWindow final : public Window {
public:
    void setTitle(const std::string& title) override;
    void setStyleMask(std::uint32_t mask) override;
    void setReleasedWhenClosed(bool released) override;
    void center() override;
    void makeKeyAndOrderFront() override;
    bool isVisible() const override { return visible_; }

    // What the user's close button does: hides the window, which keeps its content.
    void close();

    const std::string& title() const { return title_; }
    std::uint32_t styleMask() const { return styleMask_; }
    bool releasedWhenClosed() const { return releasedWhenClosed_; }
    bool isCentered() const { return centered_; }
    bool isKey() const { return key_; }
    int timesMadeKeyAndOrderedFront() const { return timesOrderedFront_; }
    const std::shared_ptr<ViewContent>& content() const { return content_; }
    // Builds the content's tree as a renderer would.
    ViewNode body() const { return content_ ? content_->body() : ViewNode{}; }
    int invalidations() const { return invalidations_; }

private:
    friend class SimWindowFactory;
    SimWindow(std::size_t index, std::shared_ptr<ViewContent> content,
              std::shared_ptr<SimHistory<WindowRecord>> history);
    void record(WindowRecord::Kind kind, std::uint32_t styleMask = 0, bool flag = false);

    std::size_t index_;
    std::shared_ptr<ViewContent> content_;
    std::shared_ptr<SimHistory<WindowRecord>> history_;
    std::string title_;
    std::uint32_t styleMask_ = kWindowStyleMaskTitled;
    // A new window is released when closed unless told otherwise, as in AppKit.
    bool releasedWhenClosed_ = true;
    bool centered_ = false;
    bool key_ = false;
    bool visible_ = false;
    int timesOrderedFront_ = 0;
    int invalidations_ = 0;
};

class SimWindowFactory final : public WindowFactory {
public:
    std::shared_ptr<Window> makeWindow(std::shared_ptr<ViewContent> content) override;

    const std::vector<std::shared_ptr<SimWindow>>& windows() const { return windows_; }

    const std::vector<WindowRecord>& history() const { return history_->records(); }
    void setObserver(SimHistory<WindowRecord>::Observer observer) {
        history_->setObserver(std::move(observer));
    }

private:
    std::vector<std::shared_ptr<SimWindow>> windows_;
    std::shared_ptr<SimHistory<WindowRecord>> history_ =
        std::make_shared<SimHistory<WindowRecord>>();
};

} // namespace varnu::sim
