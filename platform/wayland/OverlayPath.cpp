#include "platform/wayland/OverlayPath.h"

#include "platform/wayland/WaylandDisplay.h"

#include <cstdlib>

namespace varnu::wayland {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

OverlayPath sessionOverlayPath() {
    if (isSet("WAYLAND_DISPLAY") && WaylandDisplay::connectWithLayerShell()) {
        return OverlayPath::LayerShell;
    }
    if (isSet("DISPLAY")) {
        return OverlayPath::X11Window;
    }
    return isSet("WAYLAND_DISPLAY") ? OverlayPath::WaylandWindow : OverlayPath::NoDisplay;
}

const char* describe(OverlayPath path) {
    switch (path) {
    case OverlayPath::LayerShell:
        return "a layer surface the compositor puts on the focused output (layer shell)";
    case OverlayPath::X11Window:
        return "an X11 window on the screen under the pointer";
    case OverlayPath::WaylandWindow:
        return "a window the Wayland compositor places (no layer shell, no X display)";
    case OverlayPath::NoDisplay:
        return "none (no display)";
    }
    return "none (no display)";
}

} // namespace varnu::wayland
