#pragma once

// The overlay as an X11 window of Varnu's own on XWayland, where Qt's windows are natively on a
// Wayland compositor without the layer shell (GNOME with QT_QPA_PLATFORM=wayland).
// Implements: OverlayPanel on x11::OverlayWindow, placed by its lower-left corner in the core's
// screen coordinates (XWayland lays out its screens as the compositor does, as Qt's Wayland
// screens report them); the same painting as the other panels, with the fade painted into the
// pixels; never focused, and the pointer goes through it.
// Does not: know the pointer beyond where XWayland last saw it (GNOME tells it only while the
// pointer is over an X11 window), scale for HiDPI outputs, or blur what lies behind.

#include "platform/qt/PaintedOverlayPanel.h"
#include "platform/x11/OverlayWindow.h"

#include <QImage>
#include <QSocketNotifier>
#include <memory>

namespace varnu::qt {

class XWaylandOverlayPanel final : public PaintedOverlayPanel {
public:
    XWaylandOverlayPanel(std::shared_ptr<x11::OverlayWindow> window,
                         const OverlayDescription& description);

    void setFrameOrigin(Point origin) override;
    void orderFrontRegardless() override;
    void orderOut() override;

private:
    void draw() override;

    std::shared_ptr<x11::OverlayWindow> window_;
    QImage picture_;
    std::unique_ptr<QSocketNotifier> events_;
};

} // namespace varnu::qt
