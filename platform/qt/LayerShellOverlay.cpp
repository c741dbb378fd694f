#include "platform/qt/LayerShellOverlay.h"

#include "platform/qt/QtScreens.h"

#include <QImage>
#include <wayland-client-protocol.h>

namespace varnu::qt {

namespace {

constexpr const char* kNamespace = "varnu-overlay";
const wayland::LayerSurfaceListener kLayerSurfaceListener = {&LayerShellOverlayPanel::configured,
                                                             &LayerShellOverlayPanel::closed};

} // namespace

LayerShellOverlayPanel::LayerShellOverlayPanel(std::unique_ptr<wayland::WaylandDisplay> display,
                                               const OverlayDescription& description)
    : PaintedOverlayPanel(description)
    , display_(std::move(display))
    , events_(
          std::make_unique<QSocketNotifier>(display_->fileDescriptor(), QSocketNotifier::Read)) {
    QObject::connect(events_.get(), &QSocketNotifier::activated, events_.get(), [this] {
        if (!display_->dispatch()) {
            // The compositor is gone; nothing more can be shown through it.
            events_->setEnabled(false);
        }
    });
}

LayerShellOverlayPanel::~LayerShellOverlayPanel() {
    unmap();
    buffers_.clear();
    display_->flush();
}

void LayerShellOverlayPanel::setFrameOrigin(Point origin) {
    // The compositor chooses the output; of the place the core chose, the height above the
    // screen's bottom edge is what carries over.
    const Point bottomCentre{origin.x + description().contentRect.width / 2, origin.y};
    for (const Rect& screen : QtScreens().screens()) {
        if (mouseInRect(bottomCentre, screen)) {
            bottomInset_ = origin.y - screen.y;
            return;
        }
    }
}

void LayerShellOverlayPanel::orderFrontRegardless() {
    if (!layerSurface_) {
        map();
    }
    scheduleDraw();
}

void LayerShellOverlayPanel::orderOut() {
    unmap();
    display_->flush();
}

void LayerShellOverlayPanel::map() {
    surface_ = wl_compositor_create_surface(display_->compositor());
    wl_region* nothing = wl_compositor_create_region(display_->compositor());
    wl_surface_set_input_region(surface_, nothing);
    wl_region_destroy(nothing);
    layerSurface_ = wayland::getLayerSurface(display_->layerShell(), surface_, nullptr,
                                             wayland::Layer::Overlay, kNamespace);
    wayland::addListener(layerSurface_, &kLayerSurfaceListener, this);
    wayland::setSize(layerSurface_, static_cast<std::uint32_t>(description().contentRect.width),
                     static_cast<std::uint32_t>(description().contentRect.height));
    wayland::setAnchor(layerSurface_, wayland::kAnchorBottom);
    wayland::setMargin(layerSurface_, 0, 0, static_cast<std::int32_t>(bottomInset_), 0);
    wayland::setExclusiveZone(layerSurface_, wayland::kIgnoreExclusiveZones);
    wayland::setKeyboardInteractivity(layerSurface_, wayland::kNoKeyboardInteractivity);
    // The first commit carries no picture: the compositor answers with a configure.
    wl_surface_commit(surface_);
    display_->flush();
}

void LayerShellOverlayPanel::unmap() {
    if (layerSurface_) {
        wayland::destroyLayerSurface(layerSurface_);
        layerSurface_ = nullptr;
    }
    if (surface_) {
        wl_surface_destroy(surface_);
        surface_ = nullptr;
    }
    configured_ = false;
    shown_ = false;
    // The compositor lets go of the buffers with the surface; new ones are made for the next.
    buffers_.clear();
}

void LayerShellOverlayPanel::configured(void* data, zwlr_layer_surface_v1* surface,
                                        std::uint32_t serial, std::uint32_t /*width*/,
                                        std::uint32_t /*height*/) {
    auto* panel = static_cast<LayerShellOverlayPanel*>(data);
    wayland::ackConfigure(surface, serial);
    panel->configured_ = true;
    panel->scheduleDraw();
}

void LayerShellOverlayPanel::closed(void* data, zwlr_layer_surface_v1* /*surface*/) {
    static_cast<LayerShellOverlayPanel*>(data)->unmap();
}

wayland::ShmBuffer* LayerShellOverlayPanel::freeBuffer() {
    for (const auto& buffer : buffers_) {
        if (!buffer->isBusy()) {
            return buffer.get();
        }
    }
    auto made = wayland::ShmBuffer::create(display_->shm(),
                                           static_cast<int>(description().contentRect.width),
                                           static_cast<int>(description().contentRect.height));
    if (!made) {
        return nullptr;
    }
    buffers_.push_back(std::move(made));
    return buffers_.back().get();
}

void LayerShellOverlayPanel::draw() {
    if (!configured_) {
        return;
    }
    wayland::ShmBuffer* buffer = freeBuffer();
    if (!buffer) {
        return;
    }
    QImage picture(buffer->pixels(), buffer->width(), buffer->height(), buffer->stride(),
                   QImage::Format_ARGB32_Premultiplied);
    paint(picture);
    wl_surface_attach(surface_, buffer->buffer(), 0, 0);
    wl_surface_damage(surface_, 0, 0, buffer->width(), buffer->height());
    wl_surface_commit(surface_);
    buffer->setBusy();
    shown_ = true;
    display_->flush();
}

} // namespace varnu::qt
