#pragma once

// A connection of Varnu's own to the session's Wayland compositor, for the overlay, whether
// Qt's windows run natively on Wayland or on XWayland.
// Implements: connecting to $WAYLAND_DISPLAY and binding the compositor, shared memory and the
// layer shell from the registry; sending what is queued and handling what arrived, for an
// event loop that watches the connection's file descriptor.
// Does not: bind outputs or seats (the compositor places layer surfaces itself), or reconnect
// after the compositor went away.

#include "platform/wayland/LayerShellProtocol.h"

#include <memory>

namespace varnu::wayland {

class WaylandDisplay {
public:
    // Null without a Wayland session, or when its compositor offers no layer shell.
    static std::unique_ptr<WaylandDisplay> connectWithLayerShell();
    ~WaylandDisplay();

    WaylandDisplay(const WaylandDisplay&) = delete;
    WaylandDisplay& operator=(const WaylandDisplay&) = delete;

    wl_display* display() const { return display_; }
    wl_compositor* compositor() const { return compositor_; }
    wl_shm* shm() const { return shm_; }
    zwlr_layer_shell_v1* layerShell() const { return layerShell_; }
    int fileDescriptor() const;

    // Sends the queued requests.
    void flush();
    // Reads and handles the events that have arrived, without blocking; false once the
    // connection is broken.
    bool dispatch();

    // The registry's announcement of a global.
    static void global(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                       std::uint32_t version);

private:
    WaylandDisplay() = default;

    wl_display* display_ = nullptr;
    wl_registry* registry_ = nullptr;
    wl_compositor* compositor_ = nullptr;
    wl_shm* shm_ = nullptr;
    zwlr_layer_shell_v1* layerShell_ = nullptr;
};

} // namespace varnu::wayland
