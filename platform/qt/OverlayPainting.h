#pragma once

// The overlay's picture: the dark rounded glass, the symbol and the level bar at the
// description's geometry, whatever the picture is shown in.
// Implements: painting into any QPainter at a given opacity, with the description's bottom-up
// rectangles converted to top-down ones.
// Does not: clear what lies under the picture (the caller does).

#include "platform/Overlay.h"

#include <QRectF>
#include <optional>

class QPainter;

namespace varnu::qt {

// A rectangle that counts y upwards from the bottom of a frame of the given height, in the
// frame's top-down coordinates.
QRectF flipped(const Rect& rect, double frameHeight);
// Where the fill of the bar is drawn, in the panel's top-down coordinates.
QRectF fillRectIn(const OverlayDescription& description, const Rect& fill);

void paintOverlay(QPainter& painter, const OverlayDescription& description,
                  const std::optional<SymbolImage>& icon, const Rect& fill, double opacity = 1.0);

} // namespace varnu::qt
