#pragma once

// The on-screen overlay: a borderless, translucent panel that floats above everything, never
// takes focus and lets the mouse through, with a symbol and a level bar.

#include "platform/Geometry.h"
#include "platform/Image.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace varnu {

// Geometry and appearance of the panel and its views, fixed when the panel is made. Rectangles
// inside the panel count y upwards from its bottom edge.
struct OverlayDescription {
    Rect contentRect;        // the panel; its origin is set later
    double cornerRadius = 0; // of the translucent background
    Rect iconFrame;          // the symbol, scaled proportionally into this frame
    Rect barFrame;           // the level bar's track
    double barCornerRadius = 0;
    double trackWhiteAlpha = 0; // the track is white at this alpha; the fill is opaque white
};

class OverlayPanel {
public:
    virtual ~OverlayPanel() = default;
    // No image leaves the icon empty.
    virtual void setIconImage(std::optional<SymbolImage> image) = 0;
    // The filled part of the bar, in the bar's own coordinates.
    virtual void setFillFrame(const Rect& frame) = 0;
    // The panel's lower-left corner in screen coordinates.
    virtual void setFrameOrigin(Point origin) = 0;
    virtual void setAlphaValue(double alpha) = 0;
    virtual void orderFrontRegardless() = 0;
    virtual void orderOut() = 0;
    // Animates the alpha to the target over the duration, then runs the completion on the main
    // queue. A later setAlphaValue stops the animation where it is; the completion still runs.
    virtual void animateAlphaValue(double target, std::chrono::milliseconds duration,
                                   std::function<void()> completion) = 0;
};

class Screens {
public:
    virtual ~Screens() = default;
    // Every screen's full frame, in the system's order.
    virtual std::vector<Rect> screens() = 0;
    // The screen with the keyboard focus, if any.
    virtual std::optional<Rect> mainScreen() = 0;
    virtual Point mouseLocation() = 0;
};

class OverlayFactory {
public:
    virtual ~OverlayFactory() = default;
    // The panel starts hidden.
    virtual std::unique_ptr<OverlayPanel> makePanel(const OverlayDescription& description) = 0;
};

} // namespace varnu
