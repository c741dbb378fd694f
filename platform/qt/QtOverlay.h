#pragma once

// The volume overlay's window.
// Implements: OverlayFactory and OverlayPanel as a frameless, translucent, rounded window that
// stays on top, never takes focus, lets the mouse through and, on X11, bypasses the window
// manager; it draws the symbol and the level bar at the description's geometry (bottom-up
// inside the panel, converted here), is placed by its lower-left corner in the core's screen
// coordinates, and fades with a window-opacity animation.
// Does not: place itself natively on Wayland, where the compositor decides (where it offers the
// layer shell, LayerShellOverlayPanel is used instead, and where XWayland runs,
// XWaylandOverlayPanel), or blur what lies behind it.

#include "platform/Overlay.h"
#include "platform/qt/OverlayFade.h"
#include "platform/x11/OverlayWindow.h"

#include <QPointF>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace varnu::qt {

class OverlayWidget final : public QWidget {
public:
    explicit OverlayWidget(const OverlayDescription& description);

    const OverlayDescription& description() const { return description_; }
    const std::optional<SymbolImage>& iconImage() const { return icon_; }
    const Rect& fillFrame() const { return fill_; }

    void setIconImage(std::optional<SymbolImage> image);
    void setFillFrame(const Rect& frame);
    // Whether the widget fades by painting rather than by its window's opacity.
    bool paintsOpacity() const;
    double paintOpacity() const { return paintOpacity_; }
    void setPaintOpacity(double opacity);

    // The description's bottom-up rectangles, in the widget's top-down coordinates.
    QRectF iconRect() const;
    QRectF barRect() const;
    QRectF fillRect() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    OverlayDescription description_;
    std::optional<SymbolImage> icon_;
    Rect fill_;
    double paintOpacity_ = 1.0;
};

class QtOverlayPanel final : public OverlayPanel {
public:
    explicit QtOverlayPanel(const OverlayDescription& description);
    ~QtOverlayPanel() override;

    void setIconImage(std::optional<SymbolImage> image) override;
    void setFillFrame(const Rect& frame) override;
    void setFrameOrigin(Point origin) override;
    void setAlphaValue(double alpha) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    void animateAlphaValue(double target, std::chrono::milliseconds duration,
                           std::function<void()> completion) override;

    OverlayWidget* widget() const { return widget_; }
    bool isAnimating() const;
    double alpha() const;

private:
    void setAlpha(double alpha);

    QPointer<OverlayWidget> widget_;
    std::unique_ptr<OverlayFade> fade_;
};

class QtOverlayFactory final : public OverlayFactory {
public:
    std::unique_ptr<OverlayPanel> makePanel(const OverlayDescription& description) override;

    // Where XWayland last saw the pointer, while the overlay is an X11 window there and Qt's
    // windows are on Wayland, whose clients are not told where the pointer is.
    std::optional<QPointF> xwaylandPointer() const;

private:
    std::weak_ptr<x11::OverlayWindow> xwaylandWindow_;
};

} // namespace varnu::qt
