#include "hud/HUD.h"

#include "platform/Geometry.h"
#include "platform/Image.h"

#include <optional>
#include <string>

namespace varnu {

namespace {

constexpr double kPanelSize = 200;
constexpr double kPanelCornerRadius = 22;
constexpr Rect kIconFrame{50, 70, 100, 90};
constexpr Rect kBarFrame{25, 30, 150, 8};
constexpr double kBarCornerRadius = 4;
constexpr double kTrackWhiteAlpha = 0.25;
constexpr double kPanelBottomInset = 140;

const char* symbolName(std::int64_t volume, bool muted) {
    if (muted || volume == 0) {
        return "speaker.slash.fill";
    }
    if (volume < 34) {
        return "speaker.wave.1.fill";
    }
    if (volume <= 66) {
        return "speaker.wave.2.fill";
    }
    return "speaker.wave.3.fill";
}

// The screen holding the pointer, else the main screen.
std::optional<Rect> screenUnderPointer(Screens& screens) {
    for (const Rect& frame : screens.screens()) {
        if (mouseInRect(screens.mouseLocation(), frame)) {
            return frame;
        }
    }
    return screens.mainScreen();
}

} // namespace

std::shared_ptr<HUD> HUD::create(std::shared_ptr<OverlayFactory> overlays,
                                 std::shared_ptr<Screens> screens,
                                 std::shared_ptr<MainQueue> mainQueue) {
    OverlayDescription description;
    description.contentRect = Rect{0, 0, kPanelSize, kPanelSize};
    description.cornerRadius = kPanelCornerRadius;
    description.iconFrame = kIconFrame;
    description.barFrame = kBarFrame;
    description.barCornerRadius = kBarCornerRadius;
    description.trackWhiteAlpha = kTrackWhiteAlpha;
    return std::shared_ptr<HUD>(
        new HUD(overlays->makePanel(description), std::move(screens), std::move(mainQueue)));
}

HUD::HUD(std::unique_ptr<OverlayPanel> panel, std::shared_ptr<Screens> screens,
         std::shared_ptr<MainQueue> mainQueue)
    : panel_(std::move(panel))
    , screens_(std::move(screens))
    , mainQueue_(std::move(mainQueue)) {}

void HUD::show(std::int64_t volume, bool muted) {
    ++shown_;
    panel_->setIconImage(SymbolImage{symbolName(volume, muted), ""});

    const double fillWidth = muted ? 0.0 : static_cast<double>(volume) * kBarFrame.width / 100.0;
    panel_->setFillFrame(Rect{0, 0, fillWidth, kBarFrame.height});

    if (auto screen = screenUnderPointer(*screens_)) {
        panel_->setFrameOrigin(
            Point{screen->midX() - kPanelSize / 2, screen->minY() + kPanelBottomInset});
    }

    panel_->setAlphaValue(1.0);
    panel_->orderFrontRegardless();

    if (hideWork_) {
        hideWork_->cancel();
    }
    std::weak_ptr<HUD> weak = weak_from_this();
    hideWork_ = mainQueue_->asyncAfter(kHideDelay, [weak] {
        if (auto hud = weak.lock()) {
            hud->hide();
        }
    });
}

void HUD::hide() {
    std::weak_ptr<HUD> weak = weak_from_this();
    const std::uint64_t fadingShowing = shown_;
    panel_->animateAlphaValue(0.0, kFadeDuration, [weak, fadingShowing] {
        auto hud = weak.lock();
        if (hud && hud->shown_ == fadingShowing) {
            hud->panel_->orderOut();
        }
    });
}

} // namespace varnu
