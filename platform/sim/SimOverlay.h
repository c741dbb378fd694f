#pragma once

// The simulated overlay and screens.
// Implements: overlay panels that keep their icon, fill frame, origin, alpha and whether they
// are on screen; alpha animations that complete on the main queue after their duration; a
// settable list of screens, main screen and mouse location.
// Does not: draw, or pass through intermediate alpha values: during an animation the alpha
// keeps its starting value and jumps to the target when the animation completes.

#include "platform/Dispatch.h"
#include "platform/Overlay.h"
#include "platform/sim/SimHistory.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnu::sim {

struct OverlayRecord {
    enum class Kind {
        PanelMade,
        IconImageSet,   // image
        FillFrameSet,   // frame
        FrameOriginSet, // origin
        AlphaSet,       // alpha
        OrderedFront,
        OrderedOut,
        AnimationStarted,   // alpha = target, duration
        AnimationStopped,   // a setAlphaValue or a newer animation cut it short
        AnimationCompleted, // alpha = the panel's alpha at completion
        PanelReleased,
    };
    Kind kind;
    std::size_t panel = 0; // index of the panel, in the order made
    std::optional<SymbolImage> image{};
    Rect frame{};
    Point origin{};
    double alpha = 0;
    std::chrono::milliseconds duration{0};
};

class SimOverlayPanel final : public OverlayPanel,
                              public std::enable_shared_from_this<SimOverlayPanel> {
public:
    void setIconImage(std::optional<SymbolImage> image) override;
    void setFillFrame(const Rect& frame) override;
    void setFrameOrigin(Point origin) override;
    void setAlphaValue(double alpha) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    void animateAlphaValue(double target, std::chrono::milliseconds duration,
                           std::function<void()> completion) override;

    const OverlayDescription& description() const { return description_; }
    const std::optional<SymbolImage>& iconImage() const { return iconImage_; }
    const Rect& fillFrame() const { return fillFrame_; }
    Point origin() const { return origin_; }
    double alpha() const { return alpha_; }
    // Ordered front and not ordered out since.
    bool isVisible() const { return visible_; }
    bool isAnimating() const { return animating_; }
    int timesOrderedFront() const { return timesOrderedFront_; }
    int timesOrderedOut() const { return timesOrderedOut_; }
    // The owner has let go of the panel.
    bool isReleased() const { return released_; }

private:
    friend class SimOverlayFactory;
    SimOverlayPanel(std::size_t index, OverlayDescription description,
                    std::shared_ptr<MainQueue> mainQueue,
                    std::shared_ptr<SimHistory<OverlayRecord>> history);
    void record(OverlayRecord record);
    void stopAnimation();

    std::size_t index_;
    OverlayDescription description_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<SimHistory<OverlayRecord>> history_;
    std::optional<SymbolImage> iconImage_;
    Rect fillFrame_;
    Point origin_;
    double alpha_ = 1.0;
    bool visible_ = false;
    bool animating_ = false;
    // Identifies the running animation, so that one cut short does not set the alpha later.
    std::uint64_t animation_ = 0;
    int timesOrderedFront_ = 0;
    int timesOrderedOut_ = 0;
    bool released_ = false;
};

class SimOverlayFactory final : public OverlayFactory {
public:
    // Animations complete on this queue (the simulated scheduler).
    explicit SimOverlayFactory(std::shared_ptr<MainQueue> mainQueue)
        : mainQueue_(std::move(mainQueue)) {}

    // The panel handed out forwards to one of panels(), which outlives it for inspection.
    std::unique_ptr<OverlayPanel> makePanel(const OverlayDescription& description) override;

    const std::vector<std::shared_ptr<SimOverlayPanel>>& panels() const { return panels_; }

    const std::vector<OverlayRecord>& history() const { return history_->records(); }
    void clearHistory() { history_->clear(); }
    void setObserver(SimHistory<OverlayRecord>::Observer observer) {
        history_->setObserver(std::move(observer));
    }

private:
    std::shared_ptr<MainQueue> mainQueue_;
    std::vector<std::shared_ptr<SimOverlayPanel>> panels_;
    std::shared_ptr<SimHistory<OverlayRecord>> history_ =
        std::make_shared<SimHistory<OverlayRecord>>();
};

class SimScreens final : public Screens {
public:
    std::vector<Rect> screens() override { return screens_; }
    std::optional<Rect> mainScreen() override { return mainScreen_; }
    Point mouseLocation() override {
        ++mouseReads_;
        return mouse_;
    }

    void setScreens(std::vector<Rect> screens) { screens_ = std::move(screens); }
    void setMainScreen(std::optional<Rect> screen) { mainScreen_ = screen; }
    // Appends a screen; the first one added also becomes the main screen.
    void addScreen(const Rect& frame) {
        if (screens_.empty() && !mainScreen_) {
            mainScreen_ = frame;
        }
        screens_.push_back(frame);
    }
    void setMouseLocation(Point location) { mouse_ = location; }
    int mouseReads() const { return mouseReads_; }

private:
    std::vector<Rect> screens_;
    std::optional<Rect> mainScreen_;
    Point mouse_;
    int mouseReads_ = 0;
};

} // namespace varnu::sim
