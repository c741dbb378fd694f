#include "platform/wayland/WaylandDisplay.h"

#include <cstring>
#include <poll.h>
#include <wayland-client-protocol.h>

namespace varnu::wayland {

namespace {

constexpr std::uint32_t kCompositorVersion = 4;
constexpr std::uint32_t kShmVersion = 1;

void globalRemoved(void*, wl_registry*, std::uint32_t) {}

const wl_registry_listener kRegistryListener = {&WaylandDisplay::global, globalRemoved};

template <typename Proxy>
Proxy* bind(wl_registry* registry, std::uint32_t name, const wl_interface* interface,
            std::uint32_t offered, std::uint32_t wanted) {
    return static_cast<Proxy*>(
        wl_registry_bind(registry, name, interface, offered < wanted ? offered : wanted));
}

} // namespace

std::unique_ptr<WaylandDisplay> WaylandDisplay::connectWithLayerShell() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        return nullptr;
    }
    std::unique_ptr<WaylandDisplay> connection(new WaylandDisplay);
    connection->display_ = display;
    connection->registry_ = wl_display_get_registry(display);
    wl_registry_add_listener(connection->registry_, &kRegistryListener, connection.get());
    if (wl_display_roundtrip(display) < 0 || !connection->compositor_ || !connection->shm_ ||
        !connection->layerShell_) {
        return nullptr;
    }
    return connection;
}

void WaylandDisplay::global(void* data, wl_registry* registry, std::uint32_t name,
                            const char* interface, std::uint32_t version) {
    auto* self = static_cast<WaylandDisplay*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->compositor_) {
        self->compositor_ = bind<wl_compositor>(registry, name, &wl_compositor_interface, version,
                                                kCompositorVersion);
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0 && !self->shm_) {
        self->shm_ = bind<wl_shm>(registry, name, &wl_shm_interface, version, kShmVersion);
    } else if (std::strcmp(interface, kLayerShellGlobal) == 0 && !self->layerShell_) {
        self->layerShell_ = bind<zwlr_layer_shell_v1>(
            registry, name, &zwlr_layer_shell_v1_interface, version, kLayerShellVersion);
    }
}

WaylandDisplay::~WaylandDisplay() {
    if (layerShell_) {
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(layerShell_));
    }
    if (shm_) {
        wl_shm_destroy(shm_);
    }
    if (compositor_) {
        wl_compositor_destroy(compositor_);
    }
    if (registry_) {
        wl_registry_destroy(registry_);
    }
    wl_display_disconnect(display_);
}

int WaylandDisplay::fileDescriptor() const {
    return wl_display_get_fd(display_);
}

void WaylandDisplay::flush() {
    wl_display_flush(display_);
}

bool WaylandDisplay::dispatch() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            return false;
        }
    }
    pollfd ready{fileDescriptor(), POLLIN, 0};
    if (::poll(&ready, 1, 0) > 0 && (ready.revents & POLLIN)) {
        if (wl_display_read_events(display_) < 0) {
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        return false;
    }
    flush();
    return true;
}

} // namespace varnu::wayland
