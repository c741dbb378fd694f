#include "platform/qt/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

namespace varnu::qt {

Rect toBottomUp(const QRectF& rect, double primaryBottom) {
    return {rect.x(), primaryBottom - (rect.y() + rect.height()), rect.width(), rect.height()};
}

Point toBottomUp(const QPointF& point, double primaryBottom) {
    return {point.x(), primaryBottom - point.y()};
}

QRectF toTopDown(const Rect& rect, double primaryBottom) {
    return {rect.x, primaryBottom - (rect.y + rect.height), rect.width, rect.height};
}

QPointF windowTopLeft(Point origin, double windowHeight, double primaryBottom) {
    return {origin.x, primaryBottom - (origin.y + windowHeight)};
}

bool isNativeWayland() {
    return QGuiApplication::platformName().startsWith(QLatin1String("wayland"));
}

double primaryScreenBottom() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return 0;
    }
    const QRect frame = primary->geometry();
    return frame.y() + frame.height();
}

std::vector<Rect> QtScreens::screens() {
    const double bottom = primaryScreenBottom();
    std::vector<Rect> frames;
    for (const QScreen* screen : QGuiApplication::screens()) {
        frames.push_back(toBottomUp(QRectF(screen->geometry()), bottom));
    }
    return frames;
}

std::optional<Rect> QtScreens::mainScreen() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return std::nullopt;
    }
    return toBottomUp(QRectF(primary->geometry()), primaryScreenBottom());
}

QtScreens::QtScreens(PointerSource pointer)
    : pointer_(std::move(pointer)) {}

Point QtScreens::mouseLocation() {
    if (pointer_) {
        if (const auto point = pointer_()) {
            return toBottomUp(*point, primaryScreenBottom());
        }
    }
    return toBottomUp(QPointF(QCursor::pos()), primaryScreenBottom());
}

} // namespace varnu::qt
