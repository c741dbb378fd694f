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

#include "platform/qt/PaintedOverlayPanel.h"
#include "platform/wayland/ShmBuffer.h"
#include "platform/wayland/WaylandDisplay.h"

#include <QSocketNotifier>
#include <memory>
#include <vector>

namespace varnu::qt {

class LayerShellOverlayPanel final : public PaintedOverlayPanel {
public:
    LayerShellOverlayPanel(std::unique_ptr<wayland::WaylandDisplay> display,
                           const OverlayDescription& description);
    ~LayerShellOverlayPanel() override;

    void setFrameOrigin(Point origin) override;
    void orderFrontRegardless() override;
    void orderOut() override;

    // A picture is on the compositor's screen.
    bool isShown() const { return shown_; }

    // The layer surface's events.
    static void configured(void* data, zwlr_layer_surface_v1* surface, std::uint32_t serial,
                           std::uint32_t width, std::uint32_t height);
    static void closed(void* data, zwlr_layer_surface_v1* surface);

private:
    void map();
    void unmap();
    void draw() override;
    wayland::ShmBuffer* freeBuffer();

    std::unique_ptr<wayland::WaylandDisplay> display_;
    double bottomInset_ = 0;
    wl_surface* surface_ = nullptr;
    zwlr_layer_surface_v1* layerSurface_ = nullptr;
    bool configured_ = false;
    bool shown_ = false;
    std::vector<std::unique_ptr<wayland::ShmBuffer>> buffers_;
    std::unique_ptr<QSocketNotifier> events_;
};

} // namespace varnu::qt
