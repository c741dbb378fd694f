#pragma once

// The overlay as a layer surface, where the Wayland compositor offers the layer shell.
// Implements: OverlayPanel on the compositor's overlay layer, on the output the compositor
// chooses (the one with the focus), anchored to the bottom edge and centred, as far above the
// output's bottom edge as the core places the panel above its screen's; no keyboard
// interactivity, no exclusive zone and an empty input region, so that focus and pointer stay
// where they are; the same painting as the X11 window, into shared-memory buffers, with the
// fade painted into them. Each showing after a hide makes a new surface, so the overlay follows
// the focus to another output. Works on a connection of its own, whether Qt's windows are on
// XWayland or on Wayland.
// Does not: scale for HiDPI outputs (drawn at one pixel per point), or blur what lies behind.

#include "platform/Overlay.h"
#include "platform/qt/OverlayFade.h"
#include "platform/wayland/ShmBuffer.h"
#include "platform/wayland/WaylandDisplay.h"

#include <QObject>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace varnu::qt {

class LayerShellOverlayPanel final : public OverlayPanel {
public:
    LayerShellOverlayPanel(std::unique_ptr<wayland::WaylandDisplay> display,
                           const OverlayDescription& description);
    ~LayerShellOverlayPanel() override;

    void setIconImage(std::optional<SymbolImage> image) override;
    void setFillFrame(const Rect& frame) override;
    void setFrameOrigin(Point origin) override;
    void setAlphaValue(double alpha) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    void animateAlphaValue(double target, std::chrono::milliseconds duration,
                           std::function<void()> completion) override;

    // A picture is on the compositor's screen.
    bool isShown() const { return shown_; }
    double alpha() const { return alpha_; }

    // The layer surface's events.
    static void configured(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                           std::uint32_t width, std::uint32_t height);
    static void closed(void* data, zwlr_layer_surface_v1* surface);

private:
    void map();
    void unmap();
    // Draws once on the next turn of the event loop, however many changes came before.
    void scheduleDraw();
    void draw();
    wayland::ShmBuffer* freeBuffer();

    std::unique_ptr<wayland::WaylandDisplay> display_;
    OverlayDescription description_;
    std::optional<SymbolImage> icon_;
    Rect fill_;
    double alpha_ = 1.0;
    double bottomInset_ = 0;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layerSurface_ = nullptr;
    bool configured_ = false;
    bool shown_ = false;
    bool drawQueued_ = false;
    std::vector<std::unique_ptr<wayland::ShmBuffer>> buffers_;
    std::unique_ptr<QObject> context_;
    QSocketNotifier* events_ = nullptr;
    std::unique_ptr<OverlayFade> fade_;
};

} // namespace varnu::qt
