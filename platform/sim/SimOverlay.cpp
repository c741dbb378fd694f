#include "platform/sim/SimOverlay.h"

namespace varnu::sim {

using Kind = OverlayRecord::Kind;

namespace {

// What the overlay's owner holds; the simulated panel itself stays with the factory.
class PanelHandle final : public OverlayPanel {
public:
    explicit PanelHandle(std::shared_ptr<SimOverlayPanel> panel)
        : panel_(std::move(panel)) {}
    ~PanelHandle() override {
        if (onRelease) {
            onRelease();
        }
    }

    void setIconImage(std::optional<SymbolImage> image) override {
        panel_->setIconImage(std::move(image));
    }
    void setFillFrame(const Rect& frame) override { panel_->setFillFrame(frame); }
    void setFrameOrigin(Point origin) override { panel_->setFrameOrigin(origin); }
    void setAlphaValue(double alpha) override { panel_->setAlphaValue(alpha); }
    void orderFrontRegardless() override { panel_->orderFrontRegardless(); }
    void orderOut() override { panel_->orderOut(); }
    void animateAlphaValue(double target, std::chrono::milliseconds duration,
                           std::function<void()> completion) override {
        panel_->animateAlphaValue(target, duration, std::move(completion));
    }

    std::function<void()> onRelease;

private:
    std::shared_ptr<SimOverlayPanel> panel_;
};

} // namespace

SimOverlayPanel::SimOverlayPanel(std::size_t index, OverlayDescription description,
                                 std::shared_ptr<MainQueue> mainQueue,
                                 std::shared_ptr<SimHistory<OverlayRecord>> history)
    : index_(index)
    , description_(description)
    , mainQueue_(std::move(mainQueue))
    , history_(std::move(history)) {}

void SimOverlayPanel::record(OverlayRecord record) {
    record.panel = index_;
    history_->add(std::move(record));
}

void SimOverlayPanel::setIconImage(std::optional<SymbolImage> image) {
    iconImage_ = image;
    record({.kind = Kind::IconImageSet, .image = std::move(image)});
}

void SimOverlayPanel::setFillFrame(const Rect& frame) {
    fillFrame_ = frame;
    record({.kind = Kind::FillFrameSet, .frame = frame});
}

void SimOverlayPanel::setFrameOrigin(Point origin) {
    origin_ = origin;
    record({.kind = Kind::FrameOriginSet, .origin = origin});
}

void SimOverlayPanel::stopAnimation() {
    if (animating_) {
        animating_ = false;
        ++animation_;
        record({.kind = Kind::AnimationStopped, .alpha = alpha_});
    }
}

void SimOverlayPanel::setAlphaValue(double alpha) {
    stopAnimation();
    alpha_ = alpha;
    record({.kind = Kind::AlphaSet, .alpha = alpha});
}

void SimOverlayPanel::orderFrontRegardless() {
    visible_ = true;
    ++timesOrderedFront_;
    record({.kind = Kind::OrderedFront});
}

void SimOverlayPanel::orderOut() {
    visible_ = false;
    ++timesOrderedOut_;
    record({.kind = Kind::OrderedOut});
}

void SimOverlayPanel::animateAlphaValue(double target, std::chrono::milliseconds duration,
                                        std::function<void()> completion) {
    stopAnimation();
    animating_ = true;
    const std::uint64_t animation = ++animation_;
    record({.kind = Kind::AnimationStarted, .alpha = target, .duration = duration});
    // The completion runs even when the animation was cut short or the panel let go of.
    std::weak_ptr<SimOverlayPanel> weak = weak_from_this();
    mainQueue_->asyncAfter(duration, [weak, animation, target, completion = std::move(completion)] {
        if (auto panel = weak.lock();
            panel && panel->animating_ && panel->animation_ == animation) {
            panel->animating_ = false;
            panel->alpha_ = target;
            panel->record({.kind = Kind::AnimationCompleted, .alpha = target});
        }
        if (completion) {
            completion();
        }
    });
}

std::unique_ptr<OverlayPanel> SimOverlayFactory::makePanel(const OverlayDescription& description) {
    const std::size_t index = panels_.size();
    auto panel = std::shared_ptr<SimOverlayPanel>(
        new SimOverlayPanel(index, description, mainQueue_, history_));
    panels_.push_back(panel);
    history_->add({.kind = Kind::PanelMade, .panel = index});
    auto handle = std::make_unique<PanelHandle>(panel);
    std::weak_ptr<SimOverlayPanel> weak = panel;
    handle->onRelease = [weak] {
        if (auto live = weak.lock()) {
            live->released_ = true;
            live->record({.kind = Kind::PanelReleased});
        }
    };
    return handle;
}

} // namespace varnu::sim
