#include "platform/wayland/OverlayPath.h"

#include "platform/wayland/WaylandDisplay.h"
#include "platform/x11/OverlayWindow.h"

#include <cstdlib>

namespace varnu::wayland {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value && *value;
}

} // namespace

OverlayPath sessionOverlayPath() {
    if (!isSet("WAYLAND_DISPLAY")) {
        return isSet("DISPLAY") ? OverlayPath::X11Window : OverlayPath::NoDisplay;
    }
    if (WaylandDisplay::connectWithLayerShell()) {
        return OverlayPath::LayerShell;
    }
    // The overlay goes to XWayland wherever Qt's windows are, when its window can be made there.
    if (x11::OverlayWindow::create(1, 1)) {
        return OverlayPath::XWaylandWindow;
    }
    return OverlayPath::WaylandWindow;
}

const char* describe(OverlayPath path) {
    switch (path) {
    case OverlayPath::LayerShell:
        return "a layer surface the compositor puts on the focused output (layer shell)";
    case OverlayPath::X11Window:
        return "an X11 window on the screen under the pointer";
    case OverlayPath::XWaylandWindow:
        return "an X11 window on XWayland (no layer shell), on the screen where the pointer last "
               "was over an X11 window";
    case OverlayPath::WaylandWindow:
        return "a window the Wayland compositor places and focuses like any other (neither layer "
               "shell nor XWayland); switch the overlay off in the settings if it is in the way";
    case OverlayPath::NoDisplay:
        return "none (no display)";
    }
    return "none (no display)";
}

} // namespace varnu::wayland
