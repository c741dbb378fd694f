#include "platform/sim/SimWindows.h"

namespace varnu::sim {

using Kind = WindowRecord::Kind;

SimWindow::SimWindow(std::size_t index, std::shared_ptr<ViewContent> content,
                     std::shared_ptr<SimHistory<WindowRecord>> history)
    : index_(index)
    , content_(std::move(content))
    , history_(std::move(history)) {}

void SimWindow::record(Kind kind, std::uint32_t styleMask, bool flag) {
    history_->add(
        {.kind = kind, .window = index_, .title = title_, .styleMask = styleMask, .flag = flag});
}

void SimWindow::setTitle(const std::string& title) {
    title_ = title;
    record(Kind::TitleSet);
}

void SimWindow::setStyleMask(std::uint32_t mask) {
    styleMask_ = mask;
    record(Kind::StyleMaskSet, mask);
}

void SimWindow::setReleasedWhenClosed(bool released) {
    releasedWhenClosed_ = released;
    record(Kind::ReleasedWhenClosedSet, 0, released);
}

void SimWindow::center() {
    centered_ = true;
    record(Kind::Centered);
}

void SimWindow::makeKeyAndOrderFront() {
    key_ = true;
    visible_ = true;
    ++timesOrderedFront_;
    record(Kind::MadeKeyAndOrderedFront);
}

void SimWindow::close() {
    key_ = false;
    visible_ = false;
    record(Kind::Closed);
}

std::shared_ptr<Window> SimWindowFactory::makeWindow(std::shared_ptr<ViewContent> content) {
    const std::size_t index = windows_.size();
    auto window = std::shared_ptr<SimWindow>(new SimWindow(index, std::move(content), history_));
    windows_.push_back(window);
    history_->add({.kind = Kind::Made, .window = index});
    if (window->content_) {
        std::weak_ptr<SimWindow> weak = window;
        window->content_->setInvalidationHandler([weak] {
            if (auto live = weak.lock()) {
                ++live->invalidations_;
                live->record(Kind::ContentInvalidated);
            }
        });
    }
    return window;
}

} // namespace varnu::sim
