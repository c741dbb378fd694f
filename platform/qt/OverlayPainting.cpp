#include "platform/qt/OverlayPainting.h"

#include "platform/qt/SymbolIcons.h"

#include <QPainter>
#include <QPainterPath>

namespace varnu::qt {

namespace {

// The dark glass of an on-screen display, readable over light and dark backgrounds alike.
const QColor kBackground(28, 28, 30, 200);

QPainterPath roundedOutline(const QRectF& rect, double radius) {
    QPainterPath outline;
    outline.addRoundedRect(rect, radius, radius);
    return outline;
}

} // namespace

QRectF flipped(const Rect& rect, double frameHeight) {
    return {rect.x, frameHeight - (rect.y + rect.height), rect.width, rect.height};
}

QRectF fillRectIn(const OverlayDescription& description, const Rect& fill) {
    const QRectF bar = flipped(description.barFrame, description.contentRect.height);
    return flipped(fill, description.barFrame.height).translated(bar.topLeft());
}

void paintOverlay(QPainter& painter, const OverlayDescription& description,
                  const std::optional<SymbolImage>& icon, const Rect& fill, double opacity) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity);
    const QRectF frame(0, 0, description.contentRect.width, description.contentRect.height);
    painter.fillPath(roundedOutline(frame, description.cornerRadius), kBackground);

    if (icon) {
        paintSymbol(painter, flipped(description.iconFrame, frame.height()), icon->symbolName,
                    Qt::white);
    }

    const double radius = description.barCornerRadius;
    const QPainterPath track =
        roundedOutline(flipped(description.barFrame, frame.height()), radius);
    QColor trackColor(Qt::white);
    trackColor.setAlphaF(static_cast<float>(description.trackWhiteAlpha));
    painter.fillPath(track, trackColor);

    const QRectF filled = fillRectIn(description, fill);
    if (filled.width() > 0 && filled.height() > 0) {
        // The fill is a subview of the track, so it is clipped by it.
        painter.setClipPath(track);
        painter.fillPath(roundedOutline(filled, radius), Qt::white);
    }
    painter.restore();
}

} // namespace varnu::qt
