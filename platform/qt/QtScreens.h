#pragma once

// Screens and the pointer, in the core's coordinates.
// Implements: Screens from QGuiApplication's screens (full frames, in Qt's order), the primary
// screen as the main one, and QCursor's position; the conversion between Qt's top-down virtual
// desktop and the core's bottom-up system, whose origin is the lower-left corner of the
// primary screen.
// Does not: know the pointer on Wayland, where clients are not told where it is (the overlay's
// X11 window on XWayland gives it as XWayland last saw it).

#include "platform/Geometry.h"
#include "platform/Overlay.h"

#include <QPointF>
#include <QRectF>
#include <functional>
#include <optional>

namespace varnu::qt {

// primaryBottom is the lower edge of the primary screen in Qt's coordinates (its y + height).
Rect toBottomUp(const QRectF& rect, double primaryBottom);
Point toBottomUp(const QPointF& point, double primaryBottom);
QRectF toTopDown(const Rect& rect, double primaryBottom);
// The top-left corner of a window of the given height whose lower-left corner is the origin.
QPointF windowTopLeft(Point origin, double windowHeight, double primaryBottom);

// The primary screen's lower edge as the conversions need it; 0 without screens.
double primaryScreenBottom();
// Whether Qt's windows are natively on a Wayland compositor, which places them itself.
bool isNativeWayland();

class QtScreens final : public Screens {
public:
    // The pointer in Qt's coordinates, when another source than Qt's knows it better.
    using PointerSource = std::function<std::optional<QPointF>()>;
    explicit QtScreens(PointerSource pointer = {});

    std::vector<Rect> screens() override;
    std::optional<Rect> mainScreen() override;
    Point mouseLocation() override;

private:
    PointerSource pointer_;
};

} // namespace varnu::qt
