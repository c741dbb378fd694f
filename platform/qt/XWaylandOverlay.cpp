#include "platform/qt/XWaylandOverlay.h"

#include "platform/qt/QtScreens.h"

namespace varnu::qt {

XWaylandOverlayPanel::XWaylandOverlayPanel(std::shared_ptr<x11::OverlayWindow> window,
                                           const OverlayDescription& description)
    : PaintedOverlayPanel(description)
    , window_(std::move(window))
    , picture_(window_->width(), window_->height(), QImage::Format_ARGB32_Premultiplied)
    , events_(std::make_unique<QSocketNotifier>(window_->fileDescriptor(), QSocketNotifier::Read)) {
    QObject::connect(events_.get(), &QSocketNotifier::activated, events_.get(), [this] {
        if (!window_->dispatch()) {
            // XWayland is gone; nothing more can be shown through it.
            events_->setEnabled(false);
        }
    });
}

void XWaylandOverlayPanel::setFrameOrigin(Point origin) {
    const QPoint topLeft =
        windowTopLeft(origin, window_->height(), primaryScreenBottom()).toPoint();
    window_->moveTo({topLeft.x(), topLeft.y()});
}

void XWaylandOverlayPanel::orderFrontRegardless() {
    // The picture of this showing, not the last one's, is the first to be seen.
    drawNow();
    window_->show();
}

void XWaylandOverlayPanel::orderOut() {
    window_->hide();
}

void XWaylandOverlayPanel::draw() {
    paint(picture_);
    window_->draw(reinterpret_cast<const std::uint32_t*>(picture_.constBits()));
}

} // namespace varnu::qt
