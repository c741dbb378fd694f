#pragma once

// The part of an overlay panel that paints its own pixels for something outside Qt to show (a
// layer surface, an X11 window on XWayland).
// Implements: the symbol, the bar's fill and the opacity as the core sets them, the fade painted
// into the picture, and one drawing on the next turn of the event loop however many changes
// came before.
// Does not: show the picture or place it (the panel that derives from it does, in draw()).

#include "platform/Overlay.h"
#include "platform/qt/OverlayFade.h"

#include <QObject>
#include <memory>

class QImage;

namespace varnu::qt {

class PaintedOverlayPanel : public OverlayPanel {
public:
    explicit PaintedOverlayPanel(const OverlayDescription& description);
    ~PaintedOverlayPanel() override = default;

    void setIconImage(std::optional<SymbolImage> image) override;
    void setFillFrame(const Rect& frame) override;
    void setAlphaValue(double alpha) override;
    void animateAlphaValue(double target, std::chrono::milliseconds duration,
                           std::function<void()> completion) override;

protected:
    const OverlayDescription& description() const { return description_; }
    void scheduleDraw();
    // Draws at once what a queued drawing would have drawn, which then draws nothing.
    void drawNow();
    // Clears the picture and paints the overlay into it as it stands.
    void paint(QImage& picture) const;
    // Shows the picture as it stands, now.
    virtual void draw() = 0;

private:
    OverlayDescription description_;
    std::optional<SymbolImage> icon_;
    Rect fill_;
    double alpha_ = 1.0;
    bool drawQueued_ = false;
    bool changed_ = false;
    // Outlives nothing of the panel: for what works on the panel from the event loop.
    std::unique_ptr<QObject> context_;
    std::unique_ptr<OverlayFade> fade_;
};

} // namespace varnu::qt
